#include "recovery/ClusterGrid.h"

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
  return {volume.clusterSize, volume.dataStart, KindName(volume.kind)};
}

ClusterGrid GridFromHeaders(const std::vector<std::int64_t>& headerPositions) {
  ClusterGrid grid{GridInferenceLimits::kSector, 0, "no boot sector; too few headers to infer clusters, so sectors"};
  if (headerPositions.size() < GridInferenceLimits::kMinHeaders) return grid;
  grid.source = "no boot sector; the headers share no cluster grid, so sectors";
  std::int64_t common = 0;
  for (const std::int64_t position : headerPositions) common = std::gcd(common, position - headerPositions[0]);
  if (common == 0) return grid;
  const auto step = std::int64_t{1} << std::countr_zero(static_cast<std::uint64_t>(common));
  if (step < GridInferenceLimits::kSector) return grid;
  grid.clusterSize = std::min(step, GridInferenceLimits::kMaxClusterSize);
  grid.dataStart = headerPositions[0] % grid.clusterSize;
  grid.source = "no boot sector; inferred from where " + std::to_string(headerPositions.size()) + " headers lie";
  return grid;
}

std::string GridLine(const ClusterGrid& grid) {
  return "Clusters of " + ShownClusterSize(grid.clusterSize) + " from byte " + WithThousands(grid.dataStart) + " (" +
         grid.source + ")";
}

}  // namespace mendrake
