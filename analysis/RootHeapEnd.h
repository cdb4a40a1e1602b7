#pragma once

#include "analysis/ByteOrder.h"
#include "analysis/FileImage.h"

#include <cstdint>

namespace mendrake {

// Longest trailer that metadata tools append after a camera's root heap and
// that still counts as the end of the file.
constexpr std::int64_t kMaxRootHeapTrailer = std::int64_t{1} << 20;

// Where a heap ends whose directory lies at directory and lists entries:
// the directory's 2-byte count, its 10-byte entries, then the 4-byte
// pointer to it.
constexpr std::int64_t HeapEndAfterDirectory(std::int64_t directory, std::uint32_t entries) {
  return directory + 2 + 10 * std::int64_t{entries} + 4;
}

// Whether candidateSize can be the end of a CRW file whose root directory
// (found through the pointer in the candidate's last four bytes) lies at
// directory. A camera writes the root directory last, right before that
// pointer: the directory's 2-byte count and its 10-byte entries end where the
// pointer begins. Tools that add metadata append a trailer after such a heap
// and repeat the heap's pointer in the trailer's last four bytes. Junk offers
// hundreds of millions of candidates, and a chance pointer may lead a walk
// through garbage entries into the real records; almost none of those
// candidates also end their directory's heap.
inline bool CandidateEndsRootHeap(const FileImage& image, std::int64_t candidateSize, std::int64_t directory,
                                  bool bigEndian) {
  if (directory < 0 || directory + 2 > image.Size() || candidateSize > image.Size()) return false;
  const std::uint16_t entries = LoadWord(image.Data() + directory, bigEndian);
  const std::int64_t heapEnd = HeapEndAfterDirectory(directory, entries);
  if (heapEnd == candidateSize) return true;
  if (heapEnd > candidateSize || candidateSize - heapEnd > kMaxRootHeapTrailer) return false;
  return LoadDWord(image.Data() + heapEnd - 4, bigEndian) == LoadDWord(image.Data() + candidateSize - 4, bigEndian);
}

}  // namespace mendrake
