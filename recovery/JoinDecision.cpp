#include "recovery/JoinDecision.h"

#include <set>

namespace mendrake {
namespace {

// "the headers at 4096 and 90112", or, where one header is read with two
// splits, "the header at 4096 cut after 20480 bytes and the header at 4096
// cut after 40960 bytes".
std::string NamesOf(const std::vector<const JoinReading*>& passing) {
  std::set<std::int64_t> headers;
  for (const JoinReading* reading : passing) headers.insert(reading->header);
  std::string names;
  for (std::size_t i = 0; i < passing.size(); ++i) {
    const std::string separator = i == 0 ? "" : i + 1 == passing.size() ? " and " : ", ";
    if (headers.size() == passing.size()) {
      names += separator + std::to_string(passing[i]->header);
    } else {
      names += separator + "the header at " + std::to_string(passing[i]->header) + " cut after " +
               std::to_string(passing[i]->split) + " bytes";
    }
  }
  return headers.size() == passing.size() ? "the headers at " + names : names;
}

}  // namespace

JoinDecision DecideJoin(const std::vector<JoinReading>& readings, std::int64_t endAt) {
  JoinDecision decision;
  std::vector<const JoinReading*> passing;
  for (std::size_t i = 0; i < readings.size(); ++i) {
    if (readings[i].weight == JoinReading::Weight::kUnweighed) {
      decision.kind = JoinDecision::Kind::kUndecided;
      decision.why = readings[i].fault;
      return decision;
    }
    if (readings[i].weight == JoinReading::Weight::kPasses) {
      if (passing.empty()) decision.chosen = i;
      passing.push_back(&readings[i]);
    }
  }
  if (passing.empty()) return decision;
  if (passing.size() == 1) {
    decision.kind = JoinDecision::Kind::kJoin;
    return decision;
  }
  decision.kind = JoinDecision::Kind::kTie;
  decision.why = "the end at " + std::to_string(endAt) + " fits " + NamesOf(passing) + " equally, so " +
                 (passing.size() == 2 ? "neither" : "none") + " is joined by guess";
  return decision;
}

}  // namespace mendrake
