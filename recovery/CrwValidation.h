#pragma once

#include "analysis/FileImage.h"

#include <cstdint>
#include <span>
#include <string>

namespace mendrake {

// Whether bytes cut from a card stand on their own as a CRW file, and what the
// file's own walk met. Written out as NAME.CRW, such bytes must be found whole
// by a repair of NAME.CRW alone: a search through the card's bytes may have
// taken records from past the cut, which the file does not hold.
struct CrwVerdict {
  bool ok = false;
  std::string reason;  // why not, for the log: "a record lies past its end", ...
  // What the file's own walk met, when ok: make and model as a log line shows
  // them ("Canon Canon EOS D60"), and its thumbnail (size 0: none).
  std::string makeAndModel;
  std::uint32_t thumbnailStart = 0;
  std::uint32_t thumbnailSize = 0;
};

// Checks, from the header given by its byte order and length:
// - every record that the directories reached from the root heap list lies
//   inside the bytes, cheap enough to ask of every candidate end;
// - the file's own repair finds its size at its own length and succeeds.
CrwVerdict ValidateRecoveredCrw(std::span<const std::uint8_t> bytes, bool bigEndian, std::uint32_t headerLength);

// The same, with the own repair's copy of the bytes held in scratch, whose room
// stays from one call to the next.
CrwVerdict ValidateRecoveredCrw(std::span<const std::uint8_t> bytes, bool bigEndian, std::uint32_t headerLength,
                                FileImage& scratch);

}  // namespace mendrake
