#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mendrake {

// Where one CRW file's compressed raw data lies and how it is coded, from its
// records: the raw data record (0x2005), the sensor record (0x1031: width at
// offset 2, height at offset 4) and the decoder-table record (0x1835: the table
// set in its first four bytes).
//
// The raw data record holds, on cameras that store them, the low two bits of
// every value first (four values a byte, width * height / 4 bytes), then 514
// bytes that carry nothing the decode needs, then the compressed stream.
struct CanonRawLayout {
  std::int64_t recordStart = 0;  // file offset of the raw data record
  std::int64_t recordSize = 0;
  std::uint32_t width = 0;  // values per row
  std::uint32_t height = 0;  // rows
  std::uint32_t tableSet = 0;  // 0 to 2
  bool lowBits = false;

  static constexpr std::int64_t kBytesBeforeStream = 514;

  std::int64_t LowBitsSize() const { return lowBits ? std::int64_t{width} * height / 4 : 0; }
  // File offset of the compressed stream's first byte.
  std::int64_t StreamStart() const { return recordStart + LowBitsSize() + kBytesBeforeStream; }
  std::int64_t RecordEnd() const { return recordStart + recordSize; }
  std::int64_t Values() const { return std::int64_t{width} * height; }
};

// Sensors the decoder takes. Rows are coded in stripes of eight, each a whole
// number of blocks of 64 values; the widest CRW sensor is 3,152 values wide.
struct CanonRawLimits {
  static constexpr std::uint32_t kMaxWidth = 8192;
  static constexpr std::uint32_t kMaxHeight = 8192;
  static constexpr std::uint32_t kMinSide = 16;
};

// The layout read from a whole candidate CRW file through its directories, or
// nothing with the reason in whyNot ("no sensor record", "the raw data record
// is too short for a compressed stream of this sensor", ...). Bounds-checked:
// any bytes may be given.
std::optional<CanonRawLayout> ReadCanonRawLayout(std::span<const std::uint8_t> file, std::string& whyNot);

// Whether a camera stored the low bits before the stream, from the record's
// first bytes: a compressed stream never holds 0xFF followed by anything but
// 0x00, low bits soon do. recordHead: the record's bytes from its start.
bool CanonRawHasLowBits(std::span<const std::uint8_t> recordHead);

}  // namespace mendrake
