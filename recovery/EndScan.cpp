#include "recovery/EndScan.h"

#include "analysis/ByteOrder.h"
#include "analysis/HeapWalker.h"
#include "analysis/RootHeapEnd.h"

#include <cstring>

namespace mendrake {
namespace {

struct Scan {
  const std::uint8_t* bytes;
  std::int64_t length;
  std::int64_t base;
  std::int64_t maxHeap;
  std::vector<RootEnd>& ends;

  // The directory at directory holding entries entries, in one byte order.
  void Check(std::int64_t directory, std::uint32_t entries, bool bigEndian) {
    if (entries == 0 || entries > EndScanLimits::kMaxRootEntries) return;
    const std::int64_t end = HeapEndAfterDirectory(directory, entries);
    if (end > length) return;
    const std::int64_t heapLength = LoadDWord(bytes + end - 4, bigEndian);
    // The root heap holds its records before its directory, after a header.
    if (heapLength == 0 || heapLength > maxHeap || base + directory - heapLength < kHeaderEnd) return;
    bool holdsData = false, listsRawData = false;
    for (std::uint32_t i = 0; i < entries; ++i) {
      const std::uint8_t* entry = bytes + directory + 2 + 10 * i;
      const std::uint16_t tag = LoadWord(entry, bigEndian);
      if (tag >= 0x8000) return;  // no such storage kind
      if (tag >= CrwTag::kFirstInlineData) continue;
      const std::int64_t size = LoadDWord(entry + 2, bigEndian);
      const std::int64_t offset = LoadDWord(entry + 6, bigEndian);
      if (offset + size > heapLength) return;
      holdsData = holdsData || size > 0;
      listsRawData = listsRawData || (tag == CrwTag::kRawData && size > 0);
    }
    if (holdsData) ends.push_back({base + end, base + directory - heapLength, bigEndian, listsRawData});
  }
};

}  // namespace

void FindRootEnds(const std::uint8_t* bytes, std::int64_t length, std::int64_t from, std::int64_t to,
                  std::int64_t base, std::int64_t maxHeap, std::vector<RootEnd>& ends) {
  Scan scan{bytes, length, base, maxHeap, ends};
  if (to > length - 1) to = length - 1;
  // A count of at most 255 entries: in little-endian order a byte of 1 to 255
  // before a zero byte, in big-endian order a zero byte before one. Within a
  // run of zeros neither holds, so a run costs two checks.
  std::int64_t at = from;
  while (at < to) {
    const void* hit = std::memchr(bytes + at, 0, static_cast<std::size_t>(to + 1 - at));
    if (!hit) break;
    const std::int64_t zero = static_cast<const std::uint8_t*>(hit) - bytes;
    if (zero - 1 >= from && zero - 1 < to && bytes[zero - 1] != 0) scan.Check(zero - 1, bytes[zero - 1], false);
    std::int64_t runEnd = zero + 1;
    while (runEnd <= to && bytes[runEnd] == 0) ++runEnd;
    const std::int64_t last = runEnd - 1;
    if (last < to && runEnd < length) scan.Check(last, bytes[runEnd], true);
    at = runEnd;
  }
}

}  // namespace mendrake
