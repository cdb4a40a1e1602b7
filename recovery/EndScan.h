#pragma once

#include <cstdint>
#include <vector>

namespace mendrake {

// The end of a CRW file found without its start: a root heap's directory that
// ends exactly where its pointer begins (the size search's rule), whose
// entries all lie inside the heap that the pointer implies. The pointer gives
// the heap's length, so the end fixes the file's whole length.
struct RootEnd {
  std::int64_t end = 0;        // card position just past the pointer
  std::int64_t heapStart = 0;  // card position where the pointer says the heap begins
  bool bigEndian = false;
  // The root directory lists raw data, as a camera's does: a chance end in
  // other bytes (a photo's low bits) lists it about once in 65,536.
  bool listsRawData = false;
  // The file's length, for a header of headerLength bytes before the heap.
  std::int64_t FileSize(std::int64_t headerLength) const { return end - heapStart + headerLength; }
  // Where the file began, had it been written in one piece.
  std::int64_t ContiguousStart(std::int64_t headerLength) const { return heapStart - headerLength; }
};

struct EndScanLimits {
  // A camera's root directory lists a handful of records (the raw data, the
  // thumbnail, the properties heap); more than this is not a root.
  static constexpr int kMaxRootEntries = 64;
  // The bytes from a directory's first byte to the end of its pointer, at most.
  static constexpr std::int64_t kMaxDirectoryBytes = 2 + 10 * kMaxRootEntries + 4;
};

// Adds to ends every root end whose directory begins at a position in
// [from, to) of bytes, which holds length bytes from card position base on;
// ends that would lie past length are left for the caller to find again
// once more bytes are there. A heap longer than maxHeap is not a camera's.
// A directory's count has a zero high byte, so the scan moves from zero byte
// to zero byte and costs little more than a search for them.
void FindRootEnds(const std::uint8_t* bytes, std::int64_t length, std::int64_t from, std::int64_t to,
                  std::int64_t base, std::int64_t maxHeap, std::vector<RootEnd>& ends);

}  // namespace mendrake
