#include "cardfs/ClusterGrid.h"

#include <algorithm>
#include <bit>
#include <numeric>

namespace mendrake {
namespace {

// 163840 as "163,840".
std::string WithThousands(std::int64_t value) {
  std::string digits = std::to_string(value);
  for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return digits;
}

std::string ShownClusterSize(std::int64_t bytes) {
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

ClusterGrid GridOfVolume(const FatVolume& volume) {
  return {volume.clusterSize, volume.dataStart, KindName(volume.kind), 2};
}

void HeaderGrid::Add(std::int64_t position) {
  if (count_++ == 0) first_ = position;
  commonDistance_ = std::gcd(commonDistance_, position - first_);
}

ClusterGrid HeaderGrid::Grid() const {
  ClusterGrid grid{GridInferenceLimits::kSector, 0, "no boot sector; too few headers to infer clusters, so sectors"};
  if (count_ < GridInferenceLimits::kMinHeaders) return grid;
  grid.source = "no boot sector; the headers share no cluster grid, so sectors";
  if (commonDistance_ == 0) return grid;
  const auto step = std::int64_t{1} << std::countr_zero(static_cast<std::uint64_t>(commonDistance_));
  if (step < GridInferenceLimits::kSector) return grid;
  grid.clusterSize = std::min(step, GridInferenceLimits::kMaxClusterSize);
  grid.dataStart = first_ % grid.clusterSize;
  grid.source = "no boot sector; inferred from where " + std::to_string(count_) + " headers lie";
  return grid;
}

std::string GridLine(const ClusterGrid& grid) {
  return "Clusters of " + ShownClusterSize(grid.clusterSize) + " from byte " + WithThousands(grid.dataStart) + " (" +
         grid.source + ")";
}

}  // namespace mendrake
