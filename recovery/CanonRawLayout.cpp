#include "recovery/CanonRawLayout.h"

#include "analysis/ByteOrder.h"
#include "analysis/HeapWalker.h"
#include "analysis/WalkLimits.h"

#include <algorithm>

namespace mendrake {
namespace {

// The bytes of a file that stretches hold, each read checked against them.
class StretchView {
 public:
  StretchView(std::span<const FileStretch> stretches, std::int64_t size) : stretches_(stretches), size_(size) {}

  std::int64_t Size() const { return size_; }
  // The count bytes from at on, when one stretch holds them all; else null.
  const std::uint8_t* Bytes(std::int64_t at, std::int64_t count) const {
    if (at < 0 || count < 0 || at + count > size_) return nullptr;
    for (const FileStretch& stretch : stretches_) {
      const auto length = static_cast<std::int64_t>(stretch.bytes.size());
      if (at >= stretch.at && at + count <= stretch.at + length) return stretch.bytes.data() + (at - stretch.at);
    }
    return nullptr;
  }
  // The bytes from at on that the stretch holding at holds, up to count.
  std::span<const std::uint8_t> From(std::int64_t at, std::int64_t count) const {
    for (const FileStretch& stretch : stretches_) {
      const auto length = static_cast<std::int64_t>(stretch.bytes.size());
      if (at >= stretch.at && at < stretch.at + length) {
        return stretch.bytes.subspan(static_cast<std::size_t>(at - stretch.at),
                                     static_cast<std::size_t>(std::min(count, stretch.at + length - at)));
      }
    }
    return {};
  }

 private:
  std::span<const FileStretch> stretches_;
  std::int64_t size_;
};

struct RecordPlace {
  std::int64_t at = -1;
  std::int64_t size = 0;
};

// The three records the decode needs, found through the directories from the
// root heap down; every read checked against the file's end.
class RawRecordFinder {
 public:
  RawRecordFinder(const StretchView& file, bool bigEndian) : file_(file), bigEndian_(bigEndian) {}

  void Heap(std::int64_t start, std::int64_t length, int depth) {
    if (depth > WalkLimits::kMaxHeapDepth || length < 6 || start < 0 || start + length > file_.Size()) return;
    const std::uint8_t* pointer = file_.Bytes(start + length - 4, 4);
    if (pointer == nullptr) return;
    const std::int64_t directory = start + LoadDWord(pointer, bigEndian_);
    if (directory < start || directory + 2 > start + length) return;
    const std::uint8_t* count = file_.Bytes(directory, 2);
    if (count == nullptr) return;
    const std::int64_t entries = LoadWord(count, bigEndian_);
    if (entries > kMaxDirectoryEntries || directory + 2 + 10 * entries > start + length) return;
    const std::uint8_t* table = file_.Bytes(directory + 2, 10 * entries);
    if (table == nullptr) return;
    for (std::int64_t k = 0; k < entries; ++k) {
      if (++entriesVisited_ > WalkLimits::kMaxEntriesPerRootWalk) return;
      const std::uint8_t* entry = table + 10 * k;
      const std::uint16_t tag = LoadWord(entry, bigEndian_);
      if (tag >= CrwTag::kFirstInlineData) continue;
      const std::int64_t recordSize = LoadDWord(entry + 2, bigEndian_);
      const std::int64_t at = start + LoadDWord(entry + 6, bigEndian_);
      if (at + recordSize > start + length) continue;  // outside its heap: not this file's record
      const auto high = static_cast<std::uint8_t>(tag >> 8);
      if (high == CrwTag::kSubHeapHigh || high == CrwTag::kSubHeapHighAlt) {
        if (++subHeaps_ <= WalkLimits::kMaxSubHeapsPerRootWalk) Heap(at, recordSize, depth + 1);
      } else if (tag == CrwTag::kRawData) {
        Keep(raw, at, recordSize);
      } else if (tag == CrwTag::kSensorInfo) {
        Keep(sensor, at, recordSize);
      } else if (tag == CrwTag::kDecoderTable) {
        Keep(decoderTable, at, recordSize);
      }
    }
  }

  RecordPlace raw, sensor, decoderTable;

 private:
  static void Keep(RecordPlace& place, std::int64_t at, std::int64_t size) {
    if (place.at < 0) place = {at, size};
  }

  const StretchView& file_;
  bool bigEndian_;
  int entriesVisited_ = 0;
  int subHeaps_ = 0;
};

// Rows are coded in stripes of eight rows, each a whole number of blocks
// (but the last).
bool WholeBlocks(std::uint32_t width) { return width % 8 == 0; }

}  // namespace

bool CanonRawHasLowBits(std::span<const std::uint8_t> recordHead) {
  // The window the cameras' own readers test: from the stream's earliest
  // possible start to 16 KiB into the file.
  constexpr std::size_t kFrom = CanonRawLayout::kBytesBeforeStream;
  constexpr std::size_t kTo = 0x4000 - 26 - 1;
  const std::size_t end = std::min(recordHead.size() - std::min<std::size_t>(recordHead.size(), 1), kTo);
  bool stuffed = false;
  for (std::size_t i = kFrom; i < end; ++i) {
    if (recordHead[i] != 0xFF) continue;
    if (recordHead[i + 1] != 0) return true;
    stuffed = true;
  }
  // Neither kind of 0xFF in 16 KiB: those readers take low bits.
  return !stuffed;
}

std::optional<CanonRawLayout> ReadCanonRawLayout(std::span<const std::uint8_t> file, std::string& whyNot) {
  const FileStretch whole{0, file};
  return ReadCanonRawLayout(std::span(&whole, 1), static_cast<std::int64_t>(file.size()), whyNot);
}

std::optional<CanonRawLayout> ReadCanonRawLayout(std::span<const FileStretch> stretches, std::int64_t fileSize,
                                                 std::string& whyNot) {
  const StretchView file(stretches, fileSize);
  const std::uint8_t* header = file.Bytes(0, 26);
  if (header == nullptr || !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
    whyNot = "no CRW header";
    return std::nullopt;
  }
  const bool bigEndian = header[0] == 'M';
  const std::int64_t headerLength = LoadDWord(header + 2, bigEndian);
  if (headerLength < kHeaderEnd || headerLength >= fileSize) {
    whyNot = "no root heap after the header";
    return std::nullopt;
  }
  RawRecordFinder finder(file, bigEndian);
  finder.Heap(headerLength, fileSize - headerLength, 0);
  const std::uint8_t* sensor = file.Bytes(finder.sensor.at, 6);
  const std::uint8_t* decoderTable = file.Bytes(finder.decoderTable.at, 4);
  if (finder.raw.at < 0) {
    whyNot = "no raw data record";
    return std::nullopt;
  }
  if (finder.sensor.at < 0 || finder.sensor.size < 6 || sensor == nullptr) {
    whyNot = "no sensor record";
    return std::nullopt;
  }
  if (finder.decoderTable.at < 0 || finder.decoderTable.size < 4 || decoderTable == nullptr) {
    whyNot = "no decoder-table record";
    return std::nullopt;
  }
  CanonRawLayout layout;
  layout.recordStart = finder.raw.at;
  layout.recordSize = finder.raw.size;
  layout.width = LoadWord(sensor + 2, bigEndian);
  layout.height = LoadWord(sensor + 4, bigEndian);
  layout.tableSet = LoadDWord(decoderTable, bigEndian);
  if (layout.tableSet >= 3) {
    whyNot = "a decoder table this decoder does not know (" + std::to_string(layout.tableSet) + ")";
    return std::nullopt;
  }
  if (layout.width < CanonRawLimits::kMinSide || layout.height < CanonRawLimits::kMinSide ||
      layout.width > CanonRawLimits::kMaxWidth || layout.height > CanonRawLimits::kMaxHeight ||
      !WholeBlocks(layout.width)) {
    whyNot = "a sensor of " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
             " that this compression does not code";
    return std::nullopt;
  }
  layout.lowBits = CanonRawHasLowBits(file.From(layout.recordStart, layout.recordSize));
  // Each block of 64 values costs at least two bits; a shorter record holds
  // no compressed stream of this sensor (a placeholder, another layout).
  const std::int64_t values = layout.Values();
  if (layout.recordSize < layout.LowBitsSize() + CanonRawLayout::kBytesBeforeStream + values / 64 / 4) {
    whyNot = "the raw data record is too short for a compressed stream of this sensor";
    return std::nullopt;
  }
  // Uncompressed variants store 10 or 12 bits a value, or 16.
  if (layout.recordSize == values * 10 / 8 || layout.recordSize == values * 12 / 8 || layout.recordSize == values * 2) {
    whyNot = "the raw data record has the size of uncompressed values";
    return std::nullopt;
  }
  return layout;
}

}  // namespace mendrake
