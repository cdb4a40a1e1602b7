#pragma once

#include "cardfs/BootSector.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace mendrake {

// The clusters that a FAT volume's allocation table still gives to files.
// The scan consults it and never follows it: a card whose table is gone or
// cleared by a quick format is scanned the same way, only without the map.
class FatMap {
 public:
  // The map of volume from its first table (volume.fatBytes bytes at fat), or
  // nothing when the table does not begin with its media and end-of-chain
  // entries (an overwritten table) or the volume is exFAT, whose table lists
  // only fragmented files.
  static std::optional<FatMap> Read(const FatVolume& volume, const std::uint8_t* fat);

  // Whether the cluster holding the card byte at position belongs to a file
  // the table lists; false outside the data area.
  bool UsedAt(std::int64_t position) const;
  // The first card byte at or after position whose cluster is free; past the
  // data area, position itself.
  std::int64_t NextFreeAt(std::int64_t position) const;
  std::int64_t UsedClusters() const { return usedCount_; }
  const FatVolume& Volume() const { return volume_; }

 private:
  FatVolume volume_;
  std::vector<bool> used_;  // index 0 is cluster 2
  std::int64_t usedCount_ = 0;
};

}  // namespace mendrake
