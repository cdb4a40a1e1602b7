#include "cardfs/FreeClusters.h"

#include <algorithm>
#include <limits>

namespace mendrake {

FreeClusters FreeClusters::Of(const FatMap& map) {
  FreeClusters free;
  const FatVolume& volume = map.Volume();
  free.dataStart_ = volume.dataStart;
  free.clusterSize_ = volume.clusterSize;
  free.clusters_ = map.Clusters();
  for (std::int64_t index = 0; index < free.clusters_;) {
    if (map.UsedCluster(index)) {
      ++index;
      continue;
    }
    const std::int64_t first = index;
    while (index < free.clusters_ && !map.UsedCluster(index)) ++index;
    free.runs_.emplace_back(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(index));
  }
  return free;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>>::const_iterator FreeClusters::RunFrom(std::int64_t index) const {
  return std::upper_bound(runs_.begin(), runs_.end(), index,
                          [](std::int64_t wanted, const std::pair<std::uint32_t, std::uint32_t>& run) {
                            return wanted < run.second;
                          });
}

std::int64_t FreeClusters::NextFreeAt(std::int64_t position) const {
  if (position < dataStart_) return position;
  const std::int64_t index = (position - dataStart_) / clusterSize_;
  if (index >= clusters_) return position;
  const auto run = RunFrom(index);
  if (run == runs_.end()) return PositionOf(clusters_);
  return run->first <= index ? position : PositionOf(run->first);
}

std::int64_t FreeClusters::FreeUntil(std::int64_t position) const {
  constexpr std::int64_t kPastTheCard = std::numeric_limits<std::int64_t>::max();
  if (position < dataStart_) return dataStart_;
  const std::int64_t index = (position - dataStart_) / clusterSize_;
  if (index >= clusters_) return kPastTheCard;
  const auto run = RunFrom(index);
  if (run == runs_.end() || run->first > index) return position;
  return run->second == clusters_ ? kPastTheCard : PositionOf(run->second);
}

}  // namespace mendrake
