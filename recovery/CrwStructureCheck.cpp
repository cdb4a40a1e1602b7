#include "recovery/CrwStructureCheck.h"

#include "analysis/ByteOrder.h"
#include "analysis/HeapWalker.h"
#include "analysis/WalkLimits.h"
#include "output/JpegDecoder.h"

namespace mendrake {
namespace {

struct HeapCheck {
  const std::uint8_t* file;
  bool bigEndian;

  // The heap of length bytes at start; the root may carry a trailer after its
  // directory (the size search has judged that), a sub-heap may not.
  std::string Fault(std::int64_t start, std::int64_t length, bool root, int depth) const {
    if (depth > WalkLimits::kMaxHeapDepth) return "its heaps nest too deep";
    const std::int64_t end = start + length;
    if (length < 6) return "a heap at " + std::to_string(start) + " is too short for a directory";
    const std::int64_t directory = start + LoadDWord(file + end - 4, bigEndian);
    if (directory < start || directory + 2 > end - 4) {
      return "the directory pointer of the heap at " + std::to_string(start) + " leads outside it";
    }
    const std::int64_t entries = LoadWord(file + directory, bigEndian);
    const std::int64_t closes = directory + 2 + 10 * entries + 4;
    if (closes > end || (!root && closes != end)) {
      return "the directory of the heap at " + std::to_string(start) + " does not close at its pointer";
    }
    for (std::int64_t i = 0; i < entries; ++i) {
      const std::uint8_t* entry = file + directory + 2 + 10 * i;
      const std::uint16_t tag = LoadWord(entry, bigEndian);
      if (tag >= CrwTag::kFirstInlineData) continue;
      const std::int64_t size = LoadDWord(entry + 2, bigEndian);
      const std::int64_t at = start + LoadDWord(entry + 6, bigEndian);
      if (at + size > directory) return "a record at " + std::to_string(at) + " lies outside its heap";
      const std::uint8_t kind = static_cast<std::uint8_t>(tag >> 8) & 0x38;
      if (kind == CrwTag::kSubHeapHigh || kind == CrwTag::kSubHeapHighAlt) {
        if (std::string fault = Fault(at, size, false, depth + 1); !fault.empty()) return fault;
      }
    }
    return {};
  }
};

}  // namespace

std::string CrwStructureFault(const std::uint8_t* file, std::int64_t size, bool bigEndian,
                              std::uint32_t headerLength, std::uint32_t thumbnailStart, std::uint32_t thumbnailSize,
                              bool decodeThumbnail) {
  if (size <= headerLength) return "no heap after the header";
  if (std::string fault = HeapCheck{file, bigEndian}.Fault(headerLength, size - headerLength, true, 0);
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
