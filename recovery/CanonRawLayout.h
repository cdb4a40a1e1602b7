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
  // Values the stream codes: rows go in stripes of eight, each a whole number
  // of blocks of 64; the values of the last stripe past its last whole block
  // are not coded (an EOS D60's 3,144 x 2,060 leaves 32).
  std::int64_t CodedValues() const {
    const std::int64_t lastStripe = std::int64_t{height % 8} * width;
    return Values() - lastStripe % 64;
  }
};

// Sensors the decoder takes: widths a multiple of 8, so that each stripe of
// eight rows is a whole number of blocks; the widest CRW sensor is 3,160
// values wide.
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

// A stretch of a candidate file: its bytes from file offset at on.
struct FileStretch {
  std::int64_t at = 0;
  std::span<const std::uint8_t> bytes;
};

// The same from stretches of a file being put together from pieces, whose
// whole size is fileSize: the header's piece and the piece that holds the
// directories (the file's end) are enough. A record or directory that no one
// stretch holds whole is taken as missing.
std::optional<CanonRawLayout> ReadCanonRawLayout(std::span<const FileStretch> stretches, std::int64_t fileSize,
                                                 std::string& whyNot);

// Whether a camera stored the low bits before the stream, from the record's
// first bytes: a compressed stream never holds 0xFF followed by anything but
// 0x00, low bits soon do. recordHead: the record's bytes from its start.
bool CanonRawHasLowBits(std::span<const std::uint8_t> recordHead);

}  // namespace mendrake
