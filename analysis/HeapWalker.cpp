#include "analysis/HeapWalker.h"

#include "files/ControlBytes.h"
#include "analysis/Windows1252.h"

#include <algorithm>
#include <cstring>

namespace mendrake {
namespace {

enum FoundFlag : std::uint8_t {
  kName = 1,
  kSize = 2,
  kTable = 4,
  kData = 8,
  kJpeg = 16,
};

std::string ShownName(std::string_view raw) {
  if (raw.size() <= WalkLimits::kMaxNameShown) return EscapeControlBytes(Windows1252ToUtf8(raw));
  return EscapeControlBytes(Windows1252ToUtf8(raw.substr(0, WalkLimits::kMaxNameShown))) + "\u2026";
}

}  // namespace

HeapWalker::HeapWalker(RepairContext& context, FileImage& image, std::int64_t maxEntries)
    : state_(context.state),
      platform_(context.platform),
      image_(image),
      log_(context.log, WalkLimits::kMaxLogLinesPerFile),
      maxEntries_(maxEntries) {}

void HeapWalker::ScanHeap(std::int64_t start, std::int64_t length) {
  subHeapsThisRootWalk_ = 0;
  entriesThisRootWalk_ = 0;
  Walk(start, length, 0);
}

bool HeapWalker::WalkRoot(std::int64_t candidateSize, std::int64_t directory) {
  // Once a budget of the whole file is spent, walking again stops at the first
  // entry or name; a replay would still bring back the lines and flags.
  for (const WalkRecord& record : remembered_) {
    if (!budgetExhausted_ && record.directory == directory) {
      state_.FFilesize = 0;
      Replay(record);
      lastThumbnail_ = {record.metThumbnail, record.jpegStart, record.jpegSize};
      return MetAllRequired(record.flags);
    }
  }

  WalkRecord record;
  record.directory = directory;
  recording_ = &record;
  subHeapsThisRootWalk_ = 0;
  entriesThisRootWalk_ = 0;
  const bool budgetWasLeft = !budgetExhausted_;
  const std::int64_t start = state_.HLen;
  Walk(start, candidateSize - start, 0);
  recording_ = nullptr;

  const bool metAll = MetAllRequired(record.flags);
  lastThumbnail_ = {record.metThumbnail, record.jpegStart, record.jpegSize};
  // A walk cut short by a budget of the whole file would go differently next time.
  if (record.replayable && budgetWasLeft && !budgetExhausted_) {
    remembered_[nextRemembered_] = std::move(record);
    nextRemembered_ = (nextRemembered_ + 1) % remembered_.size();
  }
  return metAll;
}

void HeapWalker::Walk(std::int64_t start, std::int64_t length, int depth) {
  state_.FFilesize = 0;
  const std::int64_t imageSize = image_.Size();
  const CiffBytes bytes(std::span(image_.Data(), static_cast<std::size_t>(imageSize)), state_.BigEndian);
  const CiffHeap heap(bytes, start, length);

  // The pointer and the directory it leads to lie past the header and inside
  // the image, whatever the candidate's size.
  if (heap.PointerAt() <= kHeaderEnd) return;
  const std::optional<std::int64_t> directoryAt = heap.DirectoryAt();
  if (!directoryAt || *directoryAt <= kHeaderEnd) return;
  const std::optional<CiffDirectory> directory = heap.Directory();
  if (!directory || directory->Count() == 0 || directory->Count() > kMaxDirectoryEntries) return;

  HeapLocals locals;
  for (std::uint16_t k = 0; k < directory->Count(); ++k) {
    if (entriesVisited_ >= maxEntries_) {
      budgetExhausted_ = true;
      return;
    }
    // Depends on this walk alone, so a walk cut here is replayed alike.
    if (entriesThisRootWalk_ >= WalkLimits::kMaxEntriesPerRootWalk) return;
    ++entriesVisited_;
    ++entriesThisRootWalk_;
    platform_.NoteWork();

    const std::optional<CiffEntry> entry = directory->Entry(k);
    if (!entry) return;
    std::uint32_t dataSize = 0;
    std::uint32_t dataAt = 0;
    if (!entry->DataInEntry()) {
      if (entry->size == 0) return;
      dataSize = entry->size;
      // Offsets are relative to the heap, added in 32 bits as the format's readers do.
      dataAt = entry->offset + static_cast<std::uint32_t>(start);
      if (dataAt <= kHeaderEnd || dataAt >= imageSize) return;
    }
    if (!ActOn(*entry, dataAt, dataSize, depth, locals)) return;
  }
}

bool HeapWalker::ActOn(const CiffEntry& entry, std::uint32_t dataAt, std::uint32_t dataSize, int depth,
                       HeapLocals& locals) {
  switch (entry.tag) {
    case CrwTag::kMakeModel:
      return ReportMakeAndModel(dataAt);
    case CrwTag::kShotInfo:
      ReportWhiteBalance(dataAt, locals);
      return true;
    case CrwTag::kSensorInfo:
      ReportSensorSize(dataAt, locals);
      return true;
    case CrwTag::kDecoderTable:
      SetFound(kTable);
      return true;
    case CrwTag::kRawData:
      Report("CCD data found");
      SetFound(kData);
      return true;
    case CrwTag::kJpegThumbnail:
      ReportThumbnail(dataAt, dataSize);
      return true;
    default:
      if (entry.IsSubHeap()) EnterSubHeap(dataAt, dataSize, depth);
      return true;
  }
}

bool HeapWalker::ReportMakeAndModel(std::uint32_t dataAt) {
  // Once the log takes no more lines the strings would not be shown: skip the scan.
  if (log_.Accepting()) {
    std::int64_t position = dataAt;
    std::string make;
    std::string model;
    if (!ReadName(position, make)) return false;
    Report("Make: " + ShownName(make));
    if (!ReadName(position, model)) return false;
    Report("Model: " + ShownName(model));
  } else {
    log_.Append({});
  }
  SetFound(kName);
  return true;
}

bool HeapWalker::ReadName(std::int64_t& position, std::string& name) {
  const std::int64_t imageSize = image_.Size();
  const std::uint8_t* from = image_.Data() + position;
  const std::int64_t available = std::max<std::int64_t>(imageSize - position, 0);
  // Look no further than the budget has left: past it the walk stops anyway,
  // and a spent budget must not still cost a scan to the end of the image.
  const std::int64_t budgetLeft = WalkLimits::kMaxNameBytesPerFile - nameBytesScanned_;
  const std::int64_t window = std::min(available, budgetLeft + 1);
  const void* zero = window > 0 ? std::memchr(from, 0, static_cast<std::size_t>(window)) : nullptr;
  if (!zero && available > budgetLeft) {
    nameBytesScanned_ += window;  // one past the budget: it stays spent
    budgetExhausted_ = true;
    return false;
  }
  const std::int64_t length = zero ? static_cast<const std::uint8_t*>(zero) - from : available;
  nameBytesScanned_ += length;
  const std::size_t kept = static_cast<std::size_t>(std::min<std::int64_t>(length, WalkLimits::kMaxNameShown + 1));
  name.assign(reinterpret_cast<const char*>(from), kept);
  position += zero ? length + 1 : length;
  return true;
}

void HeapWalker::ReportWhiteBalance(std::uint32_t dataAt, HeapLocals& locals) {
  // The white balance is the 16-bit value at offset 14 of the shot information.
  SeekForRead(dataAt + 14u);
  ReadWord(image_, locals.whiteBalance, state_.BigEndian);
  switch (locals.whiteBalance) {
    case 0: Report("White Balance: Auto"); break;
    case 1: Report("White Balance: Daylight"); break;
    case 2: Report("White Balance: Cloudy"); break;
    default: break;
  }
}

void HeapWalker::ReportSensorSize(std::uint32_t dataAt, HeapLocals& locals) {
  // Sensor information holds the width at offset 2 and the height at offset 4.
  SeekForRead(dataAt + 2u);
  ReadWord(image_, locals.width, state_.BigEndian);
  ReadWord(image_, locals.height, state_.BigEndian);
  if (log_.Accepting()) {
    Report("Height: " + std::to_string(locals.height));
    Report("Width: " + std::to_string(locals.width));
  } else {
    log_.Append({});
  }
  SetFound(kSize);
}

void HeapWalker::ReportThumbnail(std::uint32_t dataAt, std::uint32_t dataSize) {
  Report("JPEG thumbnail found");
  state_.JPEGStart = dataAt;
  state_.JPEGSize = dataSize;
  if (recording_) {
    recording_->metThumbnail = true;
    recording_->jpegStart = dataAt;
    recording_->jpegSize = dataSize;
  }
  SetFound(kJpeg);
}

void HeapWalker::EnterSubHeap(std::uint32_t dataAt, std::uint32_t dataSize, int depth) {
  // Past a bound the sub-heap is not walked, as if its checks had failed.
  if (depth + 1 > WalkLimits::kMaxHeapDepth) return;
  if (subHeapsThisRootWalk_ >= WalkLimits::kMaxSubHeapsPerRootWalk) return;
  ++subHeapsThisRootWalk_;
  Walk(std::int64_t{dataAt}, std::int64_t{dataSize}, depth + 1);
}

void HeapWalker::SeekForRead(std::uint32_t position) {
  // Every position at or past the end reads nothing; the image's own position
  // range stops short of 4 GiB.
  image_.SetPosition(std::min<std::int64_t>(position, image_.Size()));
}

void HeapWalker::Report(std::string_view line) {
  log_.Append(line);
  if (!recording_) return;
  if (recording_->lines.size() < WalkLimits::kMaxRememberedLines) {
    recording_->lines.emplace_back(line);
  } else {
    recording_->replayable = false;
  }
}

void HeapWalker::SetFound(std::uint8_t flag) {
  if (flag & kName) state_.FoundName = true;
  if (flag & kSize) state_.FoundSize = true;
  if (flag & kTable) state_.FoundTable = true;
  if (flag & kData) state_.FoundDATA = true;
  if (flag & kJpeg) state_.FoundJPEG = true;
  if (recording_) recording_->flags |= flag;
}

bool HeapWalker::MetAllRequired(std::uint8_t flags) {
  constexpr std::uint8_t kRequired = kName | kSize | kTable | kData;
  return (flags & kRequired) == kRequired;
}

void HeapWalker::Replay(const WalkRecord& record) {
  for (const std::string& line : record.lines) log_.Append(line);
  if (record.metThumbnail) {
    state_.JPEGStart = record.jpegStart;
    state_.JPEGSize = record.jpegSize;
  }
  SetFound(record.flags);
}

}  // namespace mendrake
