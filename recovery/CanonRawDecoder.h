#pragma once

// Canon's lossless compression of CRW raw data, as the cameras write it:
// - The raw data record (0x2005) holds, on cameras that store them, the low
//   two bits of every value first, four values a byte in the order of the
//   rows (the value 4k + j in bits 2j and 2j + 1 of byte k); then 514 bytes
//   that the decode does not use; then the compressed stream to the record's
//   end. Which cameras store low bits is not written down anywhere: readers
//   tell from the bytes (see CanonRawHasLowBits).
// - The sensor record (0x1031) gives the values per row at offset 2 and the
//   rows at offset 4; the decoder-table record (0x1835) names one of three
//   Huffman table sets in its first four bytes (tables in CanonRawTables.h,
//   written as JPEG's DHT segment writes one).
// - The stream codes blocks of 64 values in the order of the rows, eight rows
//   at a time: the first difference of a block with the set's first table,
//   the other 63 with its second, which also codes runs of zero differences
//   and the end of a block. A code is followed by as many bits of difference
//   as its leaf says, a leading 0 bit meaning a negative difference (as in
//   JPEG). The first difference of a block adds to the first difference of
//   the block before it; each value is its difference added to the value two
//   places before it in its row (the same colour of the Bayer pattern), and
//   each row starts from 512 for both colours. The last stripe of eight rows
//   codes its whole blocks only.
// - Values are 10 bits (0 to 1023); with low bits they become 12.
// - Every 0xFF byte of the stream is followed by a stuffed 0x00.

#include "recovery/CanonRawLayout.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace mendrake {

// One Huffman table of the compression, ready for decoding: a code and its
// difference that fit in kWholeBits resolve in one lookup, codes up to
// kFastBits long in another, longer ones by their canonical ranges. What a
// leaf does to the block is kept with it as a step (see kStepRun).
struct CanonHuffmanTable {
  static constexpr int kFastBits = 10;
  static constexpr int kWholeBits = 12;
  // A step: the zero differences the leaf skips in its low four bits, then
  // whether a difference follows, then whether the block ends there.
  static constexpr std::uint8_t kStepRun = 0x0F;
  static constexpr std::uint8_t kStepHasDifference = 0x10;
  static constexpr std::uint8_t kStepEndsBlock = 0x20;
  struct Entry {
    std::uint8_t length = 0;  // 0: a longer code
    std::uint8_t leaf = 0;
  };
  struct Whole {
    std::uint8_t bits = 0;  // of code and difference; 0: not within kWholeBits
    std::uint8_t step = 0;
    std::int16_t difference = 0;
  };
  std::array<Whole, 1 << kWholeBits> whole{};
  std::array<Entry, 1 << kFastBits> fast{};
  std::array<std::int32_t, 17> firstCode{};  // by length: the first canonical code
  std::array<std::int32_t, 17> endCode{};  // one past the last code of that length
  std::array<std::int32_t, 17> firstLeaf{};  // index of the first leaf of that length
  std::array<std::uint8_t, 256> leaves{};
  std::array<std::uint8_t, 256> steps{};  // by leaf
};

// The two tables of one table set: for a block's first value, for the rest.
struct CanonHuffmanSet {
  CanonHuffmanTable first;
  CanonHuffmanTable other;
};
const CanonHuffmanSet& CanonHuffmanTables(std::uint32_t tableSet);

// The streaming decoder of that compression. It is fed the file's bytes in
// order, a cluster at a time, from the file's first byte, and skips what lies
// before the stream. Its whole state is this
// value of about 5.5 KB, no pointer but to the constant tables: a copy taken
// at any byte continues from there, so a candidate next cluster is tried on a
// copy without decoding from the start again.
//
// For each stretch it says whether the decode stays plausible: every value in
// the 10-bit range, no row far from the row of the same colours above it, no
// code the tables do not hold, no marker in the stream, and, once the record
// has ended, every row decoded within the record and the stream ending at its
// end. A stretch of another file put where the stream continues breaks the
// decode a few blocks later.
class CanonRawDecoder {
 public:
  enum class Fault : std::uint8_t {
    kNone,
    kOutOfRange,  // a value outside 0 to 1023
    kRowJump,  // a row far from the row two above
    kInvalidCode,  // a code the table does not hold
    kRunPastBlock,  // a difference placed past its block's end
    kMarker,  // 0xFF followed by a byte other than 0x00
    kPastRecordEnd,  // the record ended before every row was decoded
    kEndsEarly,  // every row decoded well before the record's end
  };

  // Rows whose mean distance to the row of the same colours two above, in
  // averages of kGroupWidth values, passes kMaxRowJump, kRowsApartToBreak
  // rows in a row, break the decode. A photo's rows differ by a few units (on
  // a 6-megapixel sensor: 2 for half the rows, 62 for all but one in a
  // hundred); an edge sharp across the whole frame, such as a horizon, by up
  // to half the range, but for two rows only (each compared with the row two
  // above it). A stream that another file's bytes continue drifts away in
  // every row.
  static constexpr std::uint32_t kGroupWidth = 16;
  static constexpr std::int32_t kMaxRowJump = 256;
  static constexpr int kRowsApartToBreak = 3;
  // Blocks that another photo's stream, spliced in, decoded before the break,
  // measured with clusters all through synthetic photos: at most 34 on a
  // 3,152-value row, 49 on a 512-value row (less drift before each row
  // starts again from 512). Twice that and more, for the unmeasured.
  static constexpr int kSpliceReachBlocks = 128;
  // Bytes a record may hold after the stream's last bit: the camera pads its
  // stream to a whole byte, and writers align records.
  static constexpr std::int64_t kMaxTrailingBytes = 16;

  explicit CanonRawDecoder(const CanonRawLayout& layout);

  // The file's next bytes, following those fed before. Bytes past the record's
  // end are not decoded; the record's last byte ends the decode.
  void Feed(std::span<const std::uint8_t> bytes);

  bool Broken() const { return fault_ != Fault::kNone; }
  Fault FaultFound() const { return fault_; }
  static std::string_view FaultText(Fault fault);
  // File offset of the byte being decoded when the decode broke, and of the
  // byte where the block that broke began; -1 while it holds.
  std::int64_t BrokenAt() const { return brokenAt_; }
  std::int64_t BrokenBlockStart() const { return brokenBlockStart_; }
  // File offset of the earliest byte of the stream that may be another
  // file's, the decode having broken: a stretch of another stream decodes
  // plausibly for a while, but never past kSpliceReachBlocks blocks (nor, for
  // kRowJump, past the rows that drew apart and the row before them). The
  // stream's start when the decode broke that close to it; -1 while it holds.
  std::int64_t EarliestSplice() const;
  // The record has ended with every row decoded, the stream ending at its end.
  bool Complete() const { return complete_; }
  // File offset of the next byte to feed.
  std::int64_t NextOffset() const { return fed_; }
  std::int64_t ValuesDecoded() const { return values_; }
  std::uint32_t RowsDecoded() const { return row_; }
  // The averages of kGroupWidth values across one of the last two rows
  // decoded (row RowsDecoded() - 1 or - 2), as the continuity check keeps them.
  std::span<const std::uint16_t> RowAverages(std::uint32_t row) const {
    return std::span(rowsAbove_[row & 1]).first((layout_.width + kGroupWidth - 1) / kGroupWidth);
  }
  const CanonRawLayout& Layout() const { return layout_; }

  // A seam between pieces is judged on the rows right after it: from
  // MarkSeam on, the next kSeamRows rows ended keep the largest mean
  // distance, per group of kGroupWidth values, of a row to the row of the
  // same colours two above it.
  static constexpr std::uint32_t kSeamRows = 8;
  void MarkSeam() {
    seamRowsLeft_ = kSeamRows;
    widestSinceSeam_ = 0;
  }
  std::int32_t WidestRowJumpSinceSeam() const { return widestSinceSeam_; }
  // The same distance over the last kSeamRows rows ended: how far the
  // photo's own rows lie apart where a seam is put.
  std::int32_t WidestRecentRowJump() const {
    return *std::max_element(recentJumps_.begin(), recentJumps_.end());
  }

 private:
  static constexpr std::uint32_t kMaxGroups = CanonRawLimits::kMaxWidth / kGroupWidth;

  const std::uint8_t* DecodeStream(const std::uint8_t* next, const std::uint8_t* end);
  void DecodeWhileBuffered(int reserve);
  void EndBlock();
  bool EndBlockInGroups();
  void EndBlockByValue();
  void EndRow();
  void FinishRecord();
  void Break(Fault fault);
  std::int64_t BitOffset() const;

  CanonRawLayout layout_;
  const CanonHuffmanSet* tables_;
  std::int64_t fed_ = 0;  // file offset of the next byte
  // The bit reader: bits_ valid bits in the high end of buffer_, oldest
  // first, and zero bits below them.
  std::uint64_t buffer_ = 0;
  int bits_ = 0;
  int padBits_ = 0;  // zero bits put after the record's end
  bool afterFF_ = false;
  // The block being decoded.
  std::array<std::int32_t, 64> differences_{};
  int coefficient_ = 0;
  std::int64_t blockStart_ = 0;
  std::int32_t carry_ = 0;
  std::array<std::int32_t, 2> base_{};
  // Where the values have reached.
  std::int64_t values_ = 0;
  std::uint32_t column_ = 0;
  std::uint32_t row_ = 0;
  bool allRows_ = false;
  std::int64_t streamEnd_ = -1;  // file offset just past the stream's last bit
  // Row continuity: sums of the row being decoded and the averages of the two
  // rows above, by group of kGroupWidth values.
  std::array<std::int32_t, kMaxGroups> rowSums_{};
  std::array<std::array<std::uint16_t, kMaxGroups>, 2> rowsAbove_{};
  int rowsApart_ = 0;
  // File offsets where the last rows' streams began, by row modulo the size.
  static constexpr int kRowStartsKept = kRowsApartToBreak + 2;
  std::array<std::int64_t, kRowStartsKept> rowStarts_{};
  // File offsets where the last blocks began, by block modulo the size.
  std::array<std::int64_t, kSpliceReachBlocks> blockStarts_{};
  std::array<std::int32_t, kSeamRows> recentJumps_{};
  std::uint32_t seamRowsLeft_ = 0;
  std::int32_t widestSinceSeam_ = 0;
  Fault fault_ = Fault::kNone;
  std::int64_t brokenAt_ = -1;
  std::int64_t brokenBlockStart_ = -1;
  bool complete_ = false;
};

}  // namespace mendrake
