#pragma once

#include "cardfs/FatMap.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace mendrake {

// The free space that a FAT volume's table gives, as runs of free clusters in
// card order: where a deleted file's bytes may lie. The scan gathers a
// deleted file from these runs and passes over the clusters between them,
// which the table still gives to files the camera wrote around it. Outside
// the data area every byte counts as free, so a card read past its volume is
// scanned as if it had no table.
class FreeClusters {
 public:
  static FreeClusters Of(const FatMap& map);

  // Whether the cluster holding position is one the table gives to a file.
  bool ListedAt(std::int64_t position) const { return NextFreeAt(position) != position; }
  // The first byte at or after position whose cluster is free: position
  // itself where it is free.
  std::int64_t NextFreeAt(std::int64_t position) const;
  // Where the free stretch that holds position ends (the first listed
  // cluster after it, or the largest position past the data area); position
  // itself where its cluster is listed.
  std::int64_t FreeUntil(std::int64_t position) const;
  std::size_t Runs() const { return runs_.size(); }

 private:
  // The run that holds cluster index, or the first after it; runs_.end() for none.
  std::vector<std::pair<std::uint32_t, std::uint32_t>>::const_iterator RunFrom(std::int64_t index) const;
  std::int64_t PositionOf(std::int64_t index) const { return dataStart_ + index * clusterSize_; }

  std::int64_t dataStart_ = 0;
  std::int64_t clusterSize_ = 1;
  std::int64_t clusters_ = 0;
  // [first, end) of each run, as cluster indices from 0 (cluster 2).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs_;
};

}  // namespace mendrake
