#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mendrake {

enum class RawDataVerdict { Plausible, Broken, Unknown };  // Unknown: no compressed raw data this decoder knows (dummy payloads, other layouts)
struct RawDataCheck {
  RawDataVerdict verdict;
  std::int64_t signalFrom;  // file offset where the compressed stream begins; bytes before it carry no signal
  std::int64_t brokenAt;
  std::string reason;
};
RawDataCheck CheckRawData(std::span<const std::uint8_t> file);  // a whole candidate CRW file from its header on

}  // namespace mendrake
