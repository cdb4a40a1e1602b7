#include "analysis/CrwRecords.h"

#include "analysis/CiffHeap.h"

#include <algorithm>

namespace mendrake {
namespace {

// A name record holds 32 bytes in camera files; longer ones are read this far.
constexpr std::size_t kMaxNameRecord = 256;
// Shot times before 1990 or from 2100 on are a clock that was never set or
// bytes that are no time.
constexpr std::int64_t kEarliestShotTime = 631152000;   // 1 January 1990
constexpr std::int64_t kLatestShotTime = 4102444800;    // 1 January 2100

std::string NameIn(std::span<const std::uint8_t> data) {
  data = data.first(std::min(data.size(), kMaxNameRecord));
  return std::string(data.begin(), std::find(data.begin(), data.end(), std::uint8_t{0}));
}

// Takes the record of entry, whose data lies at data, into records unless an
// earlier one of its tag was taken.
void Take(const CiffBytes& bytes, const CiffEntry& entry, std::int64_t at, std::span<const std::uint8_t> data,
          CrwRecords& records) {
  switch (entry.tag & 0x3FFF) {
    case CrwTag::kFileNumber:
      if (data.size() >= 4 && records.fileNumber == 0) records.fileNumber = *bytes.DWord(at);
      break;
    case CrwTag::kOriginalFileName:
      if (records.originalFileName.empty()) records.originalFileName = NameIn(data);
      break;
    case CrwTag::kThumbnailFileName:
      if (records.thumbnailFileName.empty()) records.thumbnailFileName = NameIn(data);
      break;
    case CrwTag::kTimeStamp:
      if (data.size() >= 4 && !records.shotTime) {
        const std::int64_t seconds = *bytes.DWord(at);
        if (seconds >= kEarliestShotTime && seconds < kLatestShotTime) records.shotTime = seconds;
      }
      break;
    case CrwTag::kJpegThumbnail:
      if (records.jpegSize == 0 && !data.empty()) {
        records.jpegStart = static_cast<std::uint32_t>(at);
        records.jpegSize = static_cast<std::uint32_t>(data.size());
      }
      break;
    default:
      break;
  }
}

}  // namespace

CrwRecords ReadCrwRecords(std::span<const std::uint8_t> file, bool bigEndian, std::uint32_t headerLength) {
  CrwRecords records;
  const auto size = static_cast<std::int64_t>(file.size());
  if (headerLength < kHeaderEnd || size < std::int64_t{headerLength} + 6) return records;
  const CiffBytes bytes(file, bigEndian);
  VisitCiffEntries(CiffHeap(bytes, headerLength, size - headerLength), [&](const CiffHeap& heap, const CiffEntry& entry) {
    // Tags from 0x4000 on hold up to eight bytes in the entry itself, from byte 2.
    if (entry.DataInEntry()) {
      if ((entry.tag & 0xC000) == CrwTag::kFirstInlineData && (entry.tag & 0x3FFF) == CrwTag::kFileNumber &&
          records.fileNumber == 0) {
        records.fileNumber = entry.size;
      }
      return false;
    }
    if (entry.IsSubHeap()) return false;
    const std::int64_t at = heap.RecordAt(entry);
    if (at + entry.size > heap.End()) return false;  // a record's place lies inside its heap
    const std::span<const std::uint8_t> data = bytes.Span(at, entry.size);
    if (data.size() == entry.size) Take(bytes, entry, at, data, records);
    return false;
  });
  return records;
}

}  // namespace mendrake
