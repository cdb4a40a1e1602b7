#pragma once

#include "analysis/FileImage.h"

#include <cstdint>

namespace mendrake {

// A candidate size whose root directory passed the checks that come before
// the first entry, and where that directory lies.
struct CandidateHit {
  std::int64_t candidate;
  std::int64_t directory;
};

// The size search's hot loop: among many candidate sizes, finds the next one
// whose root directory passes PlausibleRootDirectory (HeapWalker.h), with the
// same result as trying that function on each candidate in turn. Nearly every
// candidate fails, most of them at the directory's bounds; the few that do
// not send a read to a scattered place in the image, so the scan first sorts
// out the candidates in bounds and prefetches their directories, then reads
// the entry counts.
class RootCandidateScan {
 public:
  RootCandidateScan(const FileImage& image, std::int64_t rootStart, bool bigEndian);

  // The first candidate from highest down to lowest (both included, lowest > 0)
  // whose directory is plausible; candidate is lowest - 1 when there is none.
  CandidateHit FirstPlausible(std::int64_t highest, std::int64_t lowest) const;

 private:
  template <bool kBigEndian>
  CandidateHit ScanInBounds(std::int64_t highest, std::int64_t lowest) const;

  const FileImage& image_;
  std::int64_t rootStart_;
  bool bigEndian_;
  // Directory offsets d in the image are those with d - lowestOffset_ <=
  // offsetSpan_ in 32-bit unsigned arithmetic; none when anyOffset_ is false.
  bool anyOffset_ = false;
  std::uint32_t lowestOffset_ = 0;
  std::uint32_t offsetSpan_ = 0;
};

}  // namespace mendrake
