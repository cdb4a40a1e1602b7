#pragma once

#include "recovery/JoinReading.h"

#include <cstddef>
#include <string>
#include <vector>

namespace mendrake {

// What the weighed readings of one end prove. A join needs exactly one
// reading that passes and none left unweighed: a reading that could not be
// weighed (the card's work budget ran dry) might have passed as well.
struct JoinDecision {
  enum class Kind {
    kJoin,       // readings[chosen] is the file
    kNone,       // no reading passes; each keeps its own fault
    kTie,        // more than one passes: none is joined by guess, why names them
    kUndecided,  // some reading was not weighed: the pieces wait on
  };
  Kind kind = Kind::kNone;
  std::size_t chosen = 0;
  std::string why;
};

// endAt is the card position of the end the readings share, for the line.
JoinDecision DecideJoin(const std::vector<JoinReading>& readings, std::int64_t endAt);

}  // namespace mendrake
