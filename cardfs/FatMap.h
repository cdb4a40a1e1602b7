#pragma once

#include "cardfs/BootSector.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace mendrake {

// The clusters that a FAT volume's allocation table still gives to files.
// The scan is given its free clusters (FreeClusters.h) and never follows it: a card whose table is gone or
// cleared by a quick format is scanned the same way, only without the map.
class FatMap {
 public:
  // The map of volume from its first table (volume.fatBytes bytes at fat), or
  // nothing when the table does not begin with its media and end-of-chain
  // entries (an overwritten table) or the volume is exFAT, whose table lists
  // only fragmented files.
  static std::optional<FatMap> Read(const FatVolume& volume, const std::uint8_t* fat);

  // The data clusters the table has entries for, and whether the one at
  // index (cluster index + 2) belongs to a file the table lists.
  std::int64_t Clusters() const { return static_cast<std::int64_t>(used_.size()); }
  bool UsedCluster(std::int64_t index) const { return used_[static_cast<std::size_t>(index)]; }
  // The file whose clusters hold position: the first cluster of its chain,
  // or 0 where the cluster is free or outside the data area. Two positions of
  // one file give one owner; a cluster on a broken chain (a loop, a link into
  // another chain's middle) is its own owner.
  std::uint32_t OwnerAt(std::int64_t position) const;
  std::int64_t UsedClusters() const { return usedCount_; }
  const FatVolume& Volume() const { return volume_; }

 private:
  void FindOwners(const std::uint8_t* fat, std::int64_t entries);

  FatVolume volume_;
  std::vector<bool> used_;  // index 0 is cluster 2
  std::vector<std::uint32_t> owner_;  // the first cluster of each cluster's chain; 0 when free
  std::int64_t usedCount_ = 0;
};

}  // namespace mendrake
