#include "recovery/EndPairing.h"

#include "analysis/ByteOrder.h"
#include "recovery/EndScan.h"
#include "recovery/FileSignatures.h"
#include "recovery/RecoveryLimits.h"

#include <vector>

namespace mendrake {
namespace {

// Whether a file that cameras write begins at a sector start in [from, to)
// of the window: then the bytes there are the card's next file, not a trailer.
bool FileBeginsWithin(const std::uint8_t* bytes, std::int64_t from, std::int64_t to) {
  const std::int64_t sector = RecoveryLimits::kSectorSize;
  for (std::int64_t at = (from + sector - 1) / sector * sector; at < to; at += sector) {
    if (CameraFileBeginsAt(bytes + at, to - at)) return true;
  }
  return false;
}

}  // namespace

CrwEnd OwnEnd(const FileImage& window, const CrwEnd& found, FileImage& scratch, std::int64_t maxEntries) {
  if (found.trueSize == 0 || window.Size() < 6) return found;
  const std::uint8_t* bytes = window.Data();
  const bool bigEndian = bytes[0] == 'M';
  const std::int64_t heapStart = LoadDWord(bytes + 2, bigEndian);
  std::vector<RootEnd> ends;
  FindRootEnds(bytes, found.trueSize, heapStart, found.trueSize, 0, RecoveryLimits::kMaxCrwSize, ends);
  const std::uint32_t foundPointer = LoadDWord(bytes + found.trueSize - 4, bigEndian);
  std::int64_t visited = 0;
  for (const RootEnd& end : ends) {
    if (end.heapStart != heapStart || end.bigEndian != bigEndian || end.end >= found.trueSize) continue;
    if (LoadDWord(bytes + end.end - 4, bigEndian) == foundPointer && !FileBeginsWithin(bytes, end.end, found.trueSize)) {
      return found;  // a trailer follows its heap
    }
    FileImage own;
    own.Assign(bytes, end.end);
    CrwEnd earlier = FindCrwEnd(own, scratch, maxEntries - visited);
    visited += earlier.entriesVisited;
    if (earlier.trueSize == end.end) {
      earlier.entriesVisited = found.entriesVisited + visited;
      return earlier;
    }
    if (visited >= maxEntries) break;
  }
  CrwEnd kept = found;
  kept.entriesVisited += visited;
  return kept;
}

}  // namespace mendrake
