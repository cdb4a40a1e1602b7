#pragma once

#include "analysis/ByteOrder.h"
#include "analysis/CiffHeap.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/RepairContext.h"
#include "analysis/WalkLimits.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mendrake {

// Steps 2 to 5 of a root walk read straight from memory: where the directory of
// the root heap at start, cut at candidateSize, lies, or -1 when the walk would
// stop before its first entry. Almost every wrong candidate ends here.
inline std::int64_t PlausibleRootDirectory(const FileImage& image, std::int64_t start, std::int64_t candidateSize,
                                           bool bigEndian) {
  const std::int64_t size = image.Size();
  const std::int64_t pointerAt = candidateSize - 4;  // start + length - 4
  if (pointerAt <= kHeaderEnd || pointerAt + 4 > size) return -1;
  const std::int64_t directory = start + LoadDWord(image.Data() + pointerAt, bigEndian);
  if (directory <= kHeaderEnd || directory + 2 > size) return -1;
  const std::uint16_t entries = LoadWord(image.Data() + directory, bigEndian);
  if (entries == 0 || entries > kMaxDirectoryEntries) return -1;
  return directory;
}

// Walks CIFF heaps of one file image: finds each heap's directory through the
// pointer in its last four bytes, reports the records that matter, sets the
// found flags and descends into sub-heaps. One walker serves one file's whole
// size search, so the bounds of WalkLimits hold over all its walks.
class HeapWalker {
 public:
  // maxEntries bounds the directory entries of all walks together; a card
  // scan gives the search of each window a smaller share.
  HeapWalker(RepairContext& context, FileImage& image, std::int64_t maxEntries = WalkLimits::kMaxEntriesPerFile);

  // Walks the heap at start with the given length. Never changes the image's
  // content; leaves its position wherever the walk ended.
  void ScanHeap(std::int64_t start, std::int64_t length);

  // Walks the root heap for one candidate file size whose directory lies at
  // directory (see PlausibleRootDirectory). A walk depends only on where its
  // directory lies, so a directory walked before is replayed from memory with
  // the same lines and the same effect on the state. Returns whether this walk
  // itself met all four required records, whatever earlier walks met.
  bool WalkRoot(std::int64_t candidateSize, std::int64_t directory);

  // The thumbnail record met by the last root walk, walked or replayed: only
  // the walk that ends a search speaks for the file's thumbnail.
  struct WalkThumbnail {
    bool met = false;
    std::uint32_t start = 0;
    std::uint32_t size = 0;
  };
  const WalkThumbnail& LastWalkThumbnail() const { return lastThumbnail_; }

  std::int64_t EntriesVisited() const { return entriesVisited_; }
  // True once the entries or name bytes of all walks reached their bound:
  // later walks stop at their first entry.
  bool BudgetExhausted() const { return budgetExhausted_; }

 private:
  // What one walk of the root did: replaying it is the same as walking again.
  struct WalkRecord {
    std::int64_t directory = -1;
    std::uint8_t flags = 0;
    bool metThumbnail = false;
    std::uint32_t jpegStart = 0;
    std::uint32_t jpegSize = 0;
    std::vector<std::string> lines;
    bool replayable = true;
  };

  // Locals of one heap's walk that carry from entry to entry.
  struct HeapLocals {
    std::uint16_t whiteBalance = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
  };

  void Walk(std::int64_t start, std::int64_t length, int depth);
  // False when the walk of the heap must stop.
  bool ActOn(const CiffEntry& entry, std::uint32_t dataAt, std::uint32_t dataSize, int depth, HeapLocals& locals);
  bool ReportMakeAndModel(std::uint32_t dataAt);
  void ReportWhiteBalance(std::uint32_t dataAt, HeapLocals& locals);
  void ReportSensorSize(std::uint32_t dataAt, HeapLocals& locals);
  void ReportThumbnail(std::uint32_t dataAt, std::uint32_t dataSize);
  void EnterSubHeap(std::uint32_t dataAt, std::uint32_t dataSize, int depth);

  // Scans a zero-terminated name from position on; false past the budget.
  bool ReadName(std::int64_t& position, std::string& name);
  void SeekForRead(std::uint32_t position);
  void Report(std::string_view line);
  void SetFound(std::uint8_t flag);
  void Replay(const WalkRecord& record);
  static bool MetAllRequired(std::uint8_t flags);

  AnalysisState& state_;
  Platform& platform_;
  FileImage& image_;
  CappedLog log_;
  std::int64_t maxEntries_;
  std::int64_t entriesVisited_ = 0;
  std::int64_t nameBytesScanned_ = 0;
  bool budgetExhausted_ = false;
  int subHeapsThisRootWalk_ = 0;
  int entriesThisRootWalk_ = 0;
  WalkRecord* recording_ = nullptr;
  std::array<WalkRecord, WalkLimits::kRememberedWalks> remembered_{};
  std::size_t nextRemembered_ = 0;
  WalkThumbnail lastThumbnail_;
};

}  // namespace mendrake
