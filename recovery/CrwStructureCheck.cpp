#include "recovery/CrwStructureCheck.h"

#include "analysis/CiffHeap.h"
#include "analysis/WalkLimits.h"
#include "output/JpegDecoder.h"

namespace mendrake {
namespace {

// Every heap a walk would enter, checked as a camera writes it: the
// directory inside its heap, closing at the heap's pointer (the root may carry
// a trailer after it: the size search has judged that), every record before
// the directory.
struct HeapCheck {
  int subHeaps = 0;

  std::string Fault(const CiffHeap& heap, bool root, int depth) {
    if (depth > WalkLimits::kMaxHeapDepth) return "its heaps nest too deep";
    const std::string where = std::to_string(heap.Start());
    if (heap.Length() < 6) return "a heap at " + where + " is too short for a directory";
    const std::optional<CiffDirectory> directory = heap.Directory();
    if (!directory || directory->At() < heap.Start() || directory->At() + 2 > heap.PointerAt()) {
      return "the directory pointer of the heap at " + where + " leads outside it";
    }
    if (directory->End() + 4 > heap.End() || (!root && directory->End() + 4 != heap.End())) {
      return "the directory of the heap at " + where + " does not close at its pointer";
    }
    for (std::uint16_t i = 0; i < directory->Count(); ++i) {
      const std::optional<CiffEntry> entry = directory->Entry(i);
      if (!entry) return "the directory of the heap at " + where + " does not close at its pointer";
      if (entry->DataInEntry()) continue;
      const std::int64_t at = heap.RecordAt(*entry);
      if (at + entry->size > directory->At()) return "a record at " + std::to_string(at) + " lies outside its heap";
      if (!entry->IsSubHeap()) continue;
      // A directory of sub-heaps naming one heap over and over, a few levels
      // down, would be checked times without end; a walk enters no more.
      if (++subHeaps > WalkLimits::kMaxSubHeapsPerRootWalk) return "its heaps hold too many sub-heaps";
      if (std::string fault = Fault(heap.SubHeap(*entry), false, depth + 1); !fault.empty()) return fault;
    }
    return {};
  }
};

}  // namespace

std::string CrwStructureFault(const std::uint8_t* file, std::int64_t size, bool bigEndian,
                              std::uint32_t headerLength, std::uint32_t thumbnailStart, std::uint32_t thumbnailSize,
                              bool decodeThumbnail) {
  if (size <= headerLength) return "no heap after the header";
  const CiffBytes bytes(std::span(file, static_cast<std::size_t>(size)), bigEndian);
  if (std::string fault = HeapCheck{}.Fault(CiffHeap(bytes, headerLength, size - headerLength), true, 0);
      !fault.empty()) {
    return fault;
  }
  if (thumbnailSize == 0) return {};
  if (std::int64_t{thumbnailStart} + thumbnailSize > size) return "the thumbnail lies outside the file";
  const std::uint8_t* thumbnail = file + thumbnailStart;
  if (thumbnailSize < 4 || thumbnail[0] != 0xFF || thumbnail[1] != 0xD8) {
    return "the thumbnail does not begin with a start-of-image marker";
  }
  // A camera's thumbnail record ends with the picture's end marker; tools
  // may pad a record by a few bytes.
  constexpr std::uint32_t kMaxThumbnailPadding = 32;
  bool endMarker = false;
  for (std::uint32_t at = thumbnailSize - 2; !endMarker && at + kMaxThumbnailPadding + 2 > thumbnailSize && at > 1;
       --at) {
    endMarker = thumbnail[at] == 0xFF && thumbnail[at + 1] == 0xD9;
  }
  if (!endMarker) return "the thumbnail has no end marker";
  RgbBitmap picture;
  if (decodeThumbnail && !DecodeJpeg({thumbnail, thumbnailSize}, picture)) {
    return "the thumbnail does not decode to its end marker";
  }
  return {};
}

}  // namespace mendrake
