#include "recovery/CanonRawLayout.h"

#include "analysis/ByteOrder.h"
#include "analysis/CiffHeap.h"
#include "analysis/CiffTag.h"
#include "recovery/FileSignatures.h"

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
  // The stretch that holds the byte at at, or null.
  const FileStretch* Holding(std::int64_t at) const {
    for (const FileStretch& stretch : stretches_) {
      if (at >= stretch.at && at - stretch.at < static_cast<std::int64_t>(stretch.bytes.size())) return &stretch;
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
// root heap down by the CIFF reader, in the stretch that holds the file's
// end (where the root directory and, in camera files, the records that
// describe the raw data lie). Places are file offsets.
struct RawRecords {
  RecordPlace raw, sensor, decoderTable;

  RawRecords(const FileStretch& end, std::int64_t fileSize, std::int64_t headerLength, bool bigEndian) {
    // The stretch's bytes as the reader's, so that a place in them is a file
    // offset less the stretch's start; the raw data record, before the
    // stretch, is only placed, never read.
    const CiffBytes bytes(end.bytes, bigEndian);
    const CiffHeap root(bytes, headerLength - end.at, fileSize - headerLength);
    VisitCiffEntries(root, [&](const CiffHeap& heap, const CiffEntry& entry) {
      if (entry.DataInEntry() || entry.IsSubHeap()) return false;
      const RecordPlace place{heap.RecordAt(entry) + end.at, std::int64_t{entry.size}};
      if (heap.RecordAt(entry) + place.size > heap.End()) return false;  // outside its heap
      if (entry.tag == CrwTag::kRawData) Keep(raw, place);
      if (entry.tag == CrwTag::kSensorInfo) Keep(sensor, place);
      if (entry.tag == CrwTag::kDecoderTable) Keep(decoderTable, place);
      return raw.at >= 0 && sensor.at >= 0 && decoderTable.at >= 0;
    });
  }

 private:
  static void Keep(RecordPlace& kept, const RecordPlace& place) {
    if (kept.at < 0) kept = place;
  }
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
  const std::uint8_t* start = file.Bytes(0, kSignatureBytes);
  const std::optional<CrwHeader> header = start ? CrwHeaderAt(start, kSignatureBytes) : std::nullopt;
  if (!header) {
    whyNot = "no CRW header";
    return std::nullopt;
  }
  const bool bigEndian = header->bigEndian;
  const std::int64_t headerLength = header->length;
  if (headerLength < kHeaderEnd || headerLength >= fileSize) {
    whyNot = "no root heap after the header";
    return std::nullopt;
  }
  const FileStretch* end = file.Holding(fileSize - 4);
  if (end == nullptr) {
    whyNot = "no root directory";
    return std::nullopt;
  }
  const RawRecords finder(*end, fileSize, headerLength, bigEndian);
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
