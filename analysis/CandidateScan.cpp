#include "analysis/CandidateScan.h"

#include "analysis/ByteOrder.h"
#include "analysis/HeapWalker.h"

#include <algorithm>
#include <cstring>

namespace mendrake {
namespace {

// From this candidate size on, the directory pointer lies past the header.
constexpr std::int64_t kFirstCandidatePastHeader = kHeaderEnd + 5;
// Candidates sorted out before their directories are read: enough for the
// prefetches to arrive, few enough that a hit early in a stride wastes little.
constexpr int kStride = 256;
// Candidates tried one by one before a stride is sorted out.
constexpr std::int64_t kPlainFirst = 8;

}  // namespace

RootCandidateScan::RootCandidateScan(const FileImage& image, std::int64_t rootStart, bool bigEndian)
    : image_(image), rootStart_(rootStart), bigEndian_(bigEndian) {
  // A directory at rootStart + d must lie past the header and leave room for
  // its entry count: kHeaderEnd < rootStart + d <= size - 2.
  const std::int64_t lowest = std::max<std::int64_t>(0, kHeaderEnd + 1 - rootStart);
  const std::int64_t highest = image.Size() - 2 - rootStart;
  if (highest >= lowest) {
    anyOffset_ = true;
    lowestOffset_ = static_cast<std::uint32_t>(lowest);
    offsetSpan_ = static_cast<std::uint32_t>(highest - lowest);
  }
}

CandidateHit RootCandidateScan::FirstPlausible(std::int64_t highest, std::int64_t lowest) const {
  // The first few candidates the plain way: a stride costs its whole length
  // even when its first candidate is the hit, and in a tail where every
  // candidate leads to a directory (a tail of zeros behind a heap whose
  // directory comes first) that made each candidate cost two strides.
  const std::int64_t plainLowest = std::max(lowest, highest - kPlainFirst + 1);
  for (; highest >= plainLowest; --highest) {
    const std::int64_t directory = PlausibleRootDirectory(image_, rootStart_, highest, bigEndian_);
    if (directory >= 0) return {highest, directory};
  }
  if (highest < lowest) return {lowest - 1, -1};
  const std::int64_t fastLowest = std::max(lowest, kFirstCandidatePastHeader);
  if (highest >= fastLowest && anyOffset_) {
    const CandidateHit hit = bigEndian_ ? ScanInBounds<true>(highest, fastLowest) : ScanInBounds<false>(highest, fastLowest);
    if (hit.candidate >= fastLowest) return hit;
  }
  // The few smallest candidates, whose pointer would lie in the header, go the plain way.
  for (std::int64_t candidate = std::min(highest, fastLowest - 1); candidate >= lowest; --candidate) {
    const std::int64_t directory = PlausibleRootDirectory(image_, rootStart_, candidate, bigEndian_);
    if (directory >= 0) return {candidate, directory};
  }
  return {lowest - 1, -1};
}

// Every candidate here has its pointer past the header and inside the image.
// The entry counts of one stride are read while the next stride is sorted
// out, so that the prefetched directories have arrived by then.
template <bool kBigEndian>
CandidateHit RootCandidateScan::ScanInBounds(std::int64_t highest, std::int64_t lowest) const {
  const std::uint8_t* const data = image_.Data();
  const std::uint8_t* const root = data + rootStart_;
  std::int64_t strides[2][kStride];
  int counts[2] = {0, 0};
  int sorting = 0;
  // The directory's plausibility depends on the offset alone, so a candidate
  // with the offset of the last one kept can go: if that one is plausible it
  // is the hit, and the next scan starts below it; if not, neither is this.
  // A tail of zeros gives every candidate the same offset.
  std::uint32_t lastKept = lowestOffset_ - 1;  // out of bounds, never equal to a kept offset

  // Reads every entry count of a stride without branching on any, so that
  // the reads overlap, keeping the first plausible in stride order.
  const auto firstPlausibleOf = [&](int stride) -> CandidateHit {
    const int count = counts[stride];
    int first = count;
    for (int i = count - 1; i >= 0; --i) {
      const std::int64_t directory = rootStart_ + LoadDWordAs<kBigEndian>(data + strides[stride][i] - 4);
      const std::uint16_t entries = LoadWordAs<kBigEndian>(data + directory);
      first = static_cast<std::uint16_t>(entries - 1) < kMaxDirectoryEntries ? i : first;
    }
    if (first == count) return {-1, -1};
    const std::int64_t candidate = strides[stride][first];
    return {candidate, rootStart_ + LoadDWordAs<kBigEndian>(data + candidate - 4)};
  };

  for (std::int64_t top = highest; top >= lowest; top -= kStride) {
    const std::int64_t bottom = std::max(lowest, top - kStride + 1);
    std::int64_t* const kept = strides[sorting];
    int count = 0;
    for (std::int64_t candidate = top; candidate >= bottom; --candidate) {
      const std::uint32_t offset = LoadDWordAs<kBigEndian>(data + candidate - 4);
      if (offset - lowestOffset_ <= offsetSpan_ && offset != lastKept) {
        kept[count++] = candidate;
        lastKept = offset;
        __builtin_prefetch(root + offset);
      }
    }
    counts[sorting] = count;
    sorting ^= 1;
    const CandidateHit hit = firstPlausibleOf(sorting);  // the stride before
    if (hit.candidate >= 0) return hit;
    counts[sorting] = 0;
  }
  const CandidateHit hit = firstPlausibleOf(sorting ^ 1);
  if (hit.candidate >= 0) return hit;
  return {lowest - 1, -1};
}

}  // namespace mendrake
