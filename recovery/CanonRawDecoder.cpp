#include "recovery/CanonRawDecoder.h"

#include "recovery/CanonRawTables.h"

#include <algorithm>
#include <cstdlib>
#include <type_traits>

namespace mendrake {
namespace {

// The 10 bits every camera codes in the stream.
constexpr std::int32_t kMaxValue = 1023;
constexpr std::int32_t kRowStart = 512;
// A Huffman code and its difference take at most 16 + 15 bits.
constexpr int kLongestSymbol = 32;

// Bits of difference that follow a leaf's code.
int DifferenceSize(std::uint8_t leaf) { return leaf == CanonRawTables::kSkipValue ? 0 : leaf & 15; }

// A difference of size bits as the stream holds it: a leading 0 bit means a
// negative one, as in JPEG.
std::int32_t Difference(std::int32_t magnitude, int size) {
  return (magnitude & (1 << (size - 1))) ? magnitude : magnitude - ((1 << size) - 1);
}

// One symbol at the front of the buffered bits: its step, its difference and
// the bits of code and difference it takes; no bits for a code the table
// does not hold. At least 32 bits are buffered, so every code fits.
struct Symbol {
  int bits = 0;
  std::uint8_t step = 0;
  std::int32_t difference = 0;
};

inline Symbol ReadSymbol(const CanonHuffmanTable& table, std::uint64_t buffer) {
  const CanonHuffmanTable::Whole whole = table.whole[buffer >> (64 - CanonHuffmanTable::kWholeBits)];
  if (whole.bits != 0) return {whole.bits, whole.step, whole.difference};
  const auto window = static_cast<std::uint32_t>(buffer >> 48);
  const CanonHuffmanTable::Entry fast = table.fast[window >> (16 - CanonHuffmanTable::kFastBits)];
  int length = fast.length;
  std::uint8_t leaf = fast.leaf;
  if (length == 0) {
    for (int candidate = CanonHuffmanTable::kFastBits + 1; candidate <= 16; ++candidate) {
      const auto code = static_cast<std::int32_t>(window >> (16 - candidate));
      if (code < table.endCode[candidate]) {
        length = candidate;
        leaf = table.leaves[table.firstLeaf[candidate] + code - table.firstCode[candidate]];
        break;
      }
    }
    if (length == 0) return {};
  }
  const int size = DifferenceSize(leaf);
  if (size == 0) return {length, table.steps[leaf], 0};
  const auto magnitude = static_cast<std::int32_t>((buffer << length) >> (64 - size));
  return {length + size, table.steps[leaf], Difference(magnitude, size)};
}

// What a leaf does to a block: in the table of a block's other values, 0x00
// ends it; 0xFF places one zero difference; any other leaf skips the zero
// differences of its high nibble and places a difference of its low
// nibble's size (none for size 0).
std::uint8_t StepOf(std::uint8_t leaf, bool firstValueTable) {
  if (!firstValueTable && leaf == CanonRawTables::kEndOfBlock) return CanonHuffmanTable::kStepEndsBlock;
  if (leaf == CanonRawTables::kSkipValue) return 0;
  return static_cast<std::uint8_t>((leaf >> 4) | ((leaf & 15) > 0 ? CanonHuffmanTable::kStepHasDifference : 0));
}

// What one symbol does to the block being decoded: places a difference (or
// a run of zero ones), ends the block, or places a difference past its end.
enum class SymbolStep { kPlaced, kBlockEnds, kRunPastBlock };

inline SymbolStep Place(const Symbol& symbol, int& coefficient, std::array<std::int32_t, 64>& differences) {
  if (symbol.step & CanonHuffmanTable::kStepEndsBlock) return SymbolStep::kBlockEnds;
  const int at = coefficient + (symbol.step & CanonHuffmanTable::kStepRun);
  if (at >= 64) {
    if (symbol.step & CanonHuffmanTable::kStepHasDifference) return SymbolStep::kRunPastBlock;
    coefficient = at + 1;
    return SymbolStep::kBlockEnds;
  }
  // A step without a difference places a zero where the block holds one.
  differences[at] = symbol.difference;
  coefficient = at + 1;
  return coefficient >= 64 ? SymbolStep::kBlockEnds : SymbolStep::kPlaced;
}

template <std::size_t N>
CanonHuffmanTable BuildTable(const std::array<std::uint8_t, N>& source, bool firstValueTable) {
  CanonHuffmanTable table;
  for (int leaf = 0; leaf < 256; ++leaf) table.steps[leaf] = StepOf(static_cast<std::uint8_t>(leaf), firstValueTable);
  std::int32_t code = 0;
  std::int32_t leaf = 0;
  for (int length = 1; length <= CanonRawTables::kCountLengths; ++length) {
    table.firstCode[length] = code;
    table.firstLeaf[length] = leaf;
    for (int k = 0; k < source[length - 1] && 16 + leaf < static_cast<std::int32_t>(N); ++k, ++code, ++leaf) {
      table.leaves[leaf] = source[16 + leaf];
      const int size = DifferenceSize(source[16 + leaf]);
      if (length + size <= CanonHuffmanTable::kWholeBits) {
        const int spread = CanonHuffmanTable::kWholeBits - length;
        for (int j = 0; j < (1 << spread); ++j) {
          const std::int32_t magnitude = size == 0 ? 0 : j >> (spread - size);
          table.whole[(code << spread) + j] = {static_cast<std::uint8_t>(length + size), table.steps[source[16 + leaf]],
                                               static_cast<std::int16_t>(size == 0 ? 0 : Difference(magnitude, size))};
        }
      }
      if (length > CanonHuffmanTable::kFastBits) continue;
      const int spread = CanonHuffmanTable::kFastBits - length;
      for (int j = 0; j < (1 << spread); ++j) {
        table.fast[(code << spread) + j] = {static_cast<std::uint8_t>(length), source[16 + leaf]};
      }
    }
    table.endCode[length] = code;
    code <<= 1;
  }
  return table;
}

}  // namespace

const CanonHuffmanSet& CanonHuffmanTables(std::uint32_t tableSet) {
  static const std::array<CanonHuffmanSet, CanonRawTables::kTableSets> sets = [] {
    std::array<CanonHuffmanSet, CanonRawTables::kTableSets> built;
    for (int set = 0; set < CanonRawTables::kTableSets; ++set) {
      built[set].first = BuildTable(CanonRawTables::kFirstValueTables[set], true);
      built[set].other = BuildTable(CanonRawTables::kOtherValueTables[set], false);
    }
    return built;
  }();
  return sets[std::min<std::uint32_t>(tableSet, CanonRawTables::kTableSets - 1)];
}

static_assert(std::is_trivially_copyable_v<CanonRawDecoder>, "a decoder's state is copied at cluster boundaries");

CanonRawDecoder::CanonRawDecoder(const CanonRawLayout& layout)
    : layout_(layout), tables_(&CanonHuffmanTables(layout.tableSet)) {
  blockStart_ = layout_.StreamStart();
  rowStarts_.fill(layout_.StreamStart());
  blockStarts_.fill(layout_.StreamStart());
  if (layout_.width == 0 || layout_.width > CanonRawLimits::kMaxWidth || layout_.height == 0 ||
      layout_.height > CanonRawLimits::kMaxHeight || layout_.recordStart < 0 || layout_.recordSize < 0) {
    fault_ = Fault::kPastRecordEnd;
    brokenAt_ = layout_.StreamStart();
    brokenBlockStart_ = layout_.StreamStart();
  }
}

std::string_view CanonRawDecoder::FaultText(Fault fault) {
  switch (fault) {
    case Fault::kNone: return "decodes";
    case Fault::kOutOfRange: return "a value outside the sensor's range";
    case Fault::kRowJump: return "a row that does not continue the rows above it";
    case Fault::kInvalidCode: return "a code that the decoder table does not hold";
    case Fault::kRunPastBlock: return "a difference past its block's end";
    case Fault::kMarker: return "a marker inside the compressed stream";
    case Fault::kPastRecordEnd: return "the record ends before every row is decoded";
    case Fault::kEndsEarly: return "every row is decoded well before the record's end";
  }
  return "?";
}

void CanonRawDecoder::Feed(std::span<const std::uint8_t> bytes) {
  const std::int64_t streamStart = layout_.StreamStart();
  const std::int64_t recordEnd = layout_.RecordEnd();
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (Broken() || fed_ >= recordEnd || allRows_) {
      // Nothing more to decode: what follows only moves the offset on (and
      // the record's end, reached, settles the length check).
      const std::int64_t before = fed_;
      fed_ += static_cast<std::int64_t>(bytes.size() - at);
      if (!Broken() && before < recordEnd && fed_ >= recordEnd) {
        fed_ = recordEnd;
        FinishRecord();
        fed_ = before + static_cast<std::int64_t>(bytes.size() - at);
      }
      return;
    }
    if (fed_ < streamStart) {
      const auto skip = static_cast<std::size_t>(
          std::min<std::int64_t>(std::min(streamStart, recordEnd) - fed_, static_cast<std::int64_t>(bytes.size() - at)));
      at += skip;
      fed_ += static_cast<std::int64_t>(skip);
    } else {
      // The stream's bytes up to the record's end, until the decode stops.
      const auto count = static_cast<std::size_t>(
          std::min<std::int64_t>(recordEnd - fed_, static_cast<std::int64_t>(bytes.size() - at)));
      const std::uint8_t* next = DecodeStream(bytes.data() + at, bytes.data() + at + count);
      at = static_cast<std::size_t>(next - bytes.data());
    }
    if (fed_ == recordEnd && !Broken()) FinishRecord();
  }
}

// Takes the stream's bytes from next up to end, unstuffing them, and decodes
// a symbol whenever the longest one is buffered, until the decode breaks or
// every row is decoded; returns just past the last byte taken. The bit
// reader and the block's place live in locals, written back before a block
// ends or the decode breaks, which read them.
const std::uint8_t* CanonRawDecoder::DecodeStream(const std::uint8_t* next, const std::uint8_t* end) {
  const CanonHuffmanSet& tables = *tables_;
  std::int64_t fed = fed_;
  std::uint64_t buffer = buffer_;
  int bits = bits_;
  bool afterFF = afterFF_;
  int coefficient = coefficient_;
  const auto store = [&] { fed_ = fed, buffer_ = buffer, bits_ = bits, afterFF_ = afterFF, coefficient_ = coefficient; };
  for (;;) {
    // Bytes in until the longest symbol is buffered: four at once where none
    // is 0xFF, so that none is stuffed (fewer than 32 bits are buffered, so
    // the buffer takes them all below those).
    while (bits < kLongestSymbol) {
      if (next == end) {
        store();
        return next;
      }
      if (!afterFF && end - next >= 4) {
        const std::uint32_t word = (std::uint32_t{next[0]} << 24) | (std::uint32_t{next[1]} << 16) |
                                   (std::uint32_t{next[2]} << 8) | std::uint32_t{next[3]};
        const std::uint32_t inverted = ~word;
        if (((inverted - 0x01010101u) & word & 0x80808080u) == 0) {
          next += 4;
          fed += 4;
          buffer |= std::uint64_t{word} << (32 - bits);
          bits += 32;
          continue;
        }
      }
      const std::uint8_t byte = *next++;
      ++fed;
      if (afterFF) {
        afterFF = false;
        if (byte == 0x00) continue;  // the stuffed byte
        store();
        fault_ = Fault::kMarker;
        brokenAt_ = fed_ - 2;
        brokenBlockStart_ = blockStart_;
        return next;
      }
      buffer |= std::uint64_t{byte} << (56 - bits);
      bits += 8;
      afterFF = byte == 0xFF;
    }
    const Symbol symbol = ReadSymbol(coefficient == 0 ? tables.first : tables.other, buffer);
    if (symbol.bits == 0) {
      store();
      Break(Fault::kInvalidCode);
      return next;
    }
    buffer <<= symbol.bits;
    bits -= symbol.bits;
    // Most symbols place a difference well inside the block.
    const int at = coefficient + (symbol.step & CanonHuffmanTable::kStepRun);
    if ((symbol.step & CanonHuffmanTable::kStepEndsBlock) == 0 && at < 63) {
      differences_[at] = symbol.difference;
      coefficient = at + 1;
      continue;
    }
    const SymbolStep step = Place(symbol, coefficient, differences_);
    if (step == SymbolStep::kPlaced) continue;
    store();
    if (step == SymbolStep::kRunPastBlock) {
      Break(Fault::kRunPastBlock);
      return next;
    }
    EndBlock();
    if (Broken() || allRows_) return next;
    coefficient = 0;
  }
}

std::int64_t CanonRawDecoder::BitOffset() const { return fed_ - (bits_ - padBits_) / 8; }

// Decodes the symbols that the bits buffered at the record's end hold, while
// more than reserve of them are left.
void CanonRawDecoder::DecodeWhileBuffered(int reserve) {
  std::uint64_t buffer = buffer_;
  int bits = bits_;
  int coefficient = coefficient_;
  const auto store = [&] { buffer_ = buffer, bits_ = bits, coefficient_ = coefficient; };
  while (bits > reserve) {
    const Symbol symbol = ReadSymbol(coefficient == 0 ? tables_->first : tables_->other, buffer);
    if (symbol.bits == 0) {
      store();
      return Break(Fault::kInvalidCode);
    }
    buffer <<= symbol.bits;
    bits -= symbol.bits;
    const SymbolStep step = Place(symbol, coefficient, differences_);
    if (step == SymbolStep::kPlaced) continue;
    store();
    if (step == SymbolStep::kRunPastBlock) return Break(Fault::kRunPastBlock);
    EndBlock();
    if (Broken() || allRows_) return;
    coefficient = 0;
  }
  store();
}

void CanonRawDecoder::EndBlock() {
  blockStarts_[(values_ / 64) % kSpliceReachBlocks] = blockStart_;
  differences_[0] += carry_;
  carry_ = differences_[0];
  if (!EndBlockInGroups()) EndBlockByValue();
  if (Broken()) return;
  differences_.fill(0);
  coefficient_ = 0;
  blockStart_ = BitOffset();
  if (values_ >= layout_.CodedValues()) {
    allRows_ = true;
    streamEnd_ = BitOffset();
    if (layout_.RecordEnd() - streamEnd_ > kMaxTrailingBytes) {
      fault_ = Fault::kEndsEarly;
      brokenAt_ = streamEnd_;
      brokenBlockStart_ = streamEnd_;
    }
  }
}

// Where rows are whole groups wide, and wider than a block, a block starts
// at a group's start, holds four whole groups and at most one row's start,
// between them: the block's values are found first and, when all are in
// range, summed a group at a time. Returns false, having changed nothing,
// where that does not hold or a value is out of range, for EndBlockByValue
// to break at that value.
bool CanonRawDecoder::EndBlockInGroups() {
  static_assert(64 % kGroupWidth == 0 && kGroupWidth % 2 == 0);
  const std::uint32_t width = layout_.width;
  if (width % kGroupWidth != 0 || width < 64 || column_ % kGroupWidth != 0) return false;
  // The place in the block where the next row starts (64: none does).
  const int rowStart = static_cast<int>(std::min<std::uint32_t>(64, width - column_));
  std::array<std::int32_t, 64> values;
  std::int32_t even = column_ == 0 ? kRowStart : base_[0], odd = column_ == 0 ? kRowStart : base_[1];
  std::uint32_t outside = 0;  // a negative value or one past the range sets a bit above kMaxValue's
  const auto run = [&](int from, int to) {
    for (int i = from; i < to; i += 2) {
      even += differences_[i];
      odd += differences_[i + 1];
      values[i] = even;
      values[i + 1] = odd;
      outside |= static_cast<std::uint32_t>(even) | static_cast<std::uint32_t>(odd);
    }
  };
  run(0, rowStart);
  even = odd = kRowStart;
  run(rowStart, 64);
  if (outside > static_cast<std::uint32_t>(kMaxValue)) return false;
  for (int group = 0; group < 64; group += kGroupWidth) {
    std::int32_t sum = 0;
    for (std::uint32_t k = 0; k < kGroupWidth; ++k) sum += values[group + k];
    rowSums_[column_ / kGroupWidth] += sum;
    column_ += kGroupWidth;
    values_ += kGroupWidth;
    base_ = {values[group + kGroupWidth - 2], values[group + kGroupWidth - 1]};
    if (column_ == width) {
      EndRow();
      if (Broken()) return true;
    }
  }
  return true;
}

// The block's values one at a time, in runs that end with the block or the
// row, breaking at the first out of range.
void CanonRawDecoder::EndBlockByValue() {
  for (int i = 0; i < 64;) {
    if (column_ == 0) base_ = {kRowStart, kRowStart};
    const int runStart = i;
    const int runEnd = i + static_cast<int>(std::min<std::uint32_t>(64 - i, layout_.width - column_));
    std::array<std::int32_t, 2> base = base_;
    std::uint32_t column = column_;
    // A row of even width starts at an even place of the block: two values
    // at a time, one of each colour, fall in one group. A pair with a value
    // out of range is left to the loop below, which breaks at that value.
    if ((layout_.width & 1) == 0 && (i & 1) == 0 && (column & 1) == 0) {
      std::int32_t even = base[0], odd = base[1];
      for (; i + 1 < runEnd; i += 2) {
        const std::int32_t first = even + differences_[i], second = odd + differences_[i + 1];
        if (static_cast<std::uint32_t>(first) > kMaxValue || static_cast<std::uint32_t>(second) > kMaxValue) break;
        even = first, odd = second;
        rowSums_[column / kGroupWidth] += first + second;
        column += 2;
      }
      base = {even, odd};
    }
    for (; i < runEnd; ++i) {
      const std::int32_t value = base[i & 1] += differences_[i];
      if (value < 0 || value > kMaxValue) {
        base_ = base, column_ = column;
        values_ += i - runStart;
        return Break(Fault::kOutOfRange);
      }
      rowSums_[column++ / kGroupWidth] += value;
    }
    base_ = base, column_ = column;
    values_ += runEnd - runStart;
    if (column_ == layout_.width) {
      EndRow();
      if (Broken()) return;
    }
  }
}

void CanonRawDecoder::EndRow() {
  const std::uint32_t groups = (layout_.width + kGroupWidth - 1) / kGroupWidth;
  std::array<std::uint16_t, kMaxGroups>& above = rowsAbove_[row_ & 1];
  std::int64_t distance = 0;
  for (std::uint32_t g = 0; g < groups; ++g) {
    const std::uint32_t count = std::min(kGroupWidth, layout_.width - g * kGroupWidth);
    const auto average = static_cast<std::uint16_t>(rowSums_[g] / static_cast<std::int32_t>(count));
    distance += std::abs(std::int32_t{average} - std::int32_t{above[g]});
    above[g] = average;
    rowSums_[g] = 0;
  }
  if (row_ >= 2) {
    const auto jump = static_cast<std::int32_t>(distance / groups);
    recentJumps_[row_ % kSeamRows] = jump;
    if (seamRowsLeft_ > 0) {
      --seamRowsLeft_;
      widestSinceSeam_ = std::max(widestSinceSeam_, jump);
    }
  }
  if (row_ >= 2 && distance > std::int64_t{kMaxRowJump} * groups) {
    if (++rowsApart_ >= kRowsApartToBreak) return Break(Fault::kRowJump);
  } else {
    rowsApart_ = 0;
  }
  ++row_;
  column_ = 0;
  rowStarts_[row_ % kRowStartsKept] = BitOffset();
}

std::int64_t CanonRawDecoder::EarliestSplice() const {
  if (!Broken()) return -1;
  if (fault_ == Fault::kEndsEarly || fault_ == Fault::kPastRecordEnd) return layout_.StreamStart();
  // The oldest block kept: the ring holds the block that broke and the
  // kSpliceReachBlocks - 1 before it.
  const std::int64_t block = values_ / 64;
  std::int64_t earliest = layout_.StreamStart();
  if (block >= kSpliceReachBlocks) earliest = blockStarts_[(block + 1) % kSpliceReachBlocks];
  if (fault_ == Fault::kRowJump) {
    const std::uint32_t back = kRowsApartToBreak + 1;
    earliest = std::min(earliest, row_ < back ? layout_.StreamStart() : rowStarts_[(row_ - back) % kRowStartsKept]);
  }
  return earliest;
}

void CanonRawDecoder::FinishRecord() {
  if (!allRows_) {
    // The last symbols lie in the bits still buffered: decode them with zero
    // bits after the record's end, and refuse a symbol that reaches into those.
    padBits_ = kLongestSymbol;
    bits_ += padBits_;  // the buffer holds zero bits below its valid ones
    DecodeWhileBuffered(padBits_);
    if (Broken()) return;
    if (!allRows_ || bits_ < padBits_) {
      fault_ = Fault::kPastRecordEnd;
      brokenAt_ = layout_.RecordEnd();
      brokenBlockStart_ = blockStart_;
      return;
    }
  }
  complete_ = true;
}

void CanonRawDecoder::Break(Fault fault) {
  fault_ = fault;
  brokenAt_ = std::max(layout_.StreamStart(), BitOffset() - 1);
  brokenBlockStart_ = blockStart_;
}

}  // namespace mendrake
