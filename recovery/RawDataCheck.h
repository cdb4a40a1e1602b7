#pragma once
#include <cstdint>
#include <span>
#include <string>
namespace mendrake {
// What the raw data of one whole candidate CRW file says about it.
enum class RawDataVerdict {
  Plausible,  // decodes within the sensor's range, rows continuous, ends at the record's end
  Broken,     // a stretch decodes implausibly: these bytes are not one photo's
  Unknown,    // no compressed raw data this decoder knows (another layout, uncompressed, dummy payload)
};
struct RawDataCheck {
  RawDataVerdict verdict = RawDataVerdict::Unknown;
  std::int64_t signalFrom = -1;  // file offset where the compressed stream begins; bytes before it (low bits, table) carry no signal
  std::int64_t brokenAt = -1;    // file offset near where the decode first broke (Broken only)
  std::string reason;            // for the log line
};
// file: a whole candidate CRW file from its header on.
RawDataCheck CheckRawData(std::span<const std::uint8_t> file);
}  // namespace mendrake
