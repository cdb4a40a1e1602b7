#include "analysis/CrwRecords.h"

#include "analysis/ByteOrder.h"
#include "analysis/HeapWalker.h"
#include "analysis/WalkLimits.h"

#include <algorithm>

namespace mendrake {
namespace {

// Entries all the directories of one file may list together: a camera file
// has about fifty, and this walk runs once per file written.
constexpr int kMaxEntriesRead = 4096;
// A name record holds 32 bytes in camera files; longer ones are read this far.
constexpr std::int64_t kMaxNameRecord = 256;
// Shot times before 1990 or from 2100 on are a clock that was never set or
// bytes that are no time.
constexpr std::int64_t kEarliestShotTime = 631152000;   // 1 January 1990
constexpr std::int64_t kLatestShotTime = 4102444800;    // 1 January 2100

class RecordReader {
 public:
  RecordReader(std::span<const std::uint8_t> file, bool bigEndian) : file_(file), bigEndian_(bigEndian) {}

  void ReadHeap(std::int64_t start, std::int64_t length, int depth, CrwRecords& records) {
    if (depth > WalkLimits::kMaxHeapDepth || length < 6) return;
    const std::int64_t end = start + length;
    const std::int64_t directory = start + LoadDWord(file_.data() + end - 4, bigEndian_);
    if (directory < start || directory + 2 > end - 4) return;
    const std::uint16_t entries = LoadWord(file_.data() + directory, bigEndian_);
    if (entries > kMaxDirectoryEntries || directory + 2 + std::int64_t{entries} * 10 > end - 4) return;
    for (std::uint16_t i = 0; i < entries && entriesRead_ < kMaxEntriesRead; ++i, ++entriesRead_) {
      const std::uint8_t* entry = file_.data() + directory + 2 + i * 10;
      const std::uint16_t tag = LoadWord(entry, bigEndian_);
      const std::uint16_t id = tag & 0x3FFF;
      // Tags from 0x4000 on hold up to eight bytes in the entry itself.
      if (tag >= CrwTag::kFirstInlineData) {
        if ((tag & 0xC000) == CrwTag::kFirstInlineData) TakeData(id, entry + 2, 8, 0, records);
        continue;
      }
      const std::int64_t size = LoadDWord(entry + 2, bigEndian_);
      const std::int64_t at = start + LoadDWord(entry + 6, bigEndian_);
      if (at < start || size > length || at + size > end) continue;
      const std::uint8_t kind = static_cast<std::uint8_t>(tag >> 8) & 0x38;
      if (kind == CrwTag::kSubHeapHigh || kind == CrwTag::kSubHeapHighAlt) {
        ReadHeap(at, size, depth + 1, records);
      } else {
        TakeData(id, file_.data() + at, size, at, records);
      }
    }
  }

 private:
  void TakeData(std::uint16_t id, const std::uint8_t* data, std::int64_t size, std::int64_t at, CrwRecords& records) {
    switch (id) {
      case CrwPhotoTag::kFileNumber:
        if (size >= 4 && records.fileNumber == 0) records.fileNumber = LoadDWord(data, bigEndian_);
        break;
      case CrwPhotoTag::kOriginalFileName:
        if (records.originalFileName.empty()) records.originalFileName = NameIn(data, size);
        break;
      case CrwPhotoTag::kThumbnailFileName:
        if (records.thumbnailFileName.empty()) records.thumbnailFileName = NameIn(data, size);
        break;
      case CrwPhotoTag::kTimeStamp:
        if (size >= 4 && !records.shotTime) {
          const std::int64_t seconds = LoadDWord(data, bigEndian_);
          if (seconds >= kEarliestShotTime && seconds < kLatestShotTime) records.shotTime = seconds;
        }
        break;
      case CrwPhotoTag::kJpegFromRaw:
        if (size > 0 && records.jpegSize == 0 && at > 0) {
          records.jpegStart = static_cast<std::uint32_t>(at);
          records.jpegSize = static_cast<std::uint32_t>(size);
        }
        break;
      default:
        break;
    }
  }

  static std::string NameIn(const std::uint8_t* data, std::int64_t size) {
    const std::uint8_t* end = data + std::min(size, kMaxNameRecord);
    return std::string(data, std::find(data, end, std::uint8_t{0}));
  }

  std::span<const std::uint8_t> file_;
  bool bigEndian_;
  int entriesRead_ = 0;
};

}  // namespace

CrwRecords ReadCrwRecords(std::span<const std::uint8_t> file, bool bigEndian, std::uint32_t headerLength) {
  CrwRecords records;
  if (file.size() < std::size_t{headerLength} + 6 || headerLength < kHeaderEnd) return records;
  RecordReader reader(file, bigEndian);
  reader.ReadHeap(headerLength, static_cast<std::int64_t>(file.size()) - headerLength, 0, records);
  return records;
}

}  // namespace mendrake
