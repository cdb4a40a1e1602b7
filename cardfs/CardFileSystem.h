#pragma once

#include "cardfs/BootSector.h"
#include "cardfs/FatMap.h"
#include "cardfs/FreeClusters.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace mendrake {

// The card's own file system, read from the blocks of the one pass over the
// card as they stream past: the boot sector at the card's start or at its
// first partition's, then the volume's first allocation table. Both lie
// before every cluster, so they are known before any file is met.
class CardFileSystem {
 public:
  // A table larger than this (FAT32 over 8 million clusters, a card of some
  // 256 GiB) is not kept: the scan goes on without the map.
  static constexpr std::int64_t kMaxTableBytes = std::int64_t{32} << 20;

  // Takes what it needs from the block of length bytes at start; blocks come
  // in card order.
  void Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);
  // Called when the card ends: what was not seen is not there.
  void Finish();

  // Whether the boot sector (and the table, where one is read) are settled.
  bool Settled() const { return step_ == Step::kDone; }
  const std::optional<FatVolume>& Volume() const { return volume_; }
  const std::optional<FatMap>& Map() const { return map_; }
  // The map's free clusters, given to the scan as runs; none without a map.
  const std::optional<FreeClusters>& Free() const { return free_; }

 private:
  enum class Step { kBootSector, kTable, kDone };
  // Bytes [from, from + size) gathered from the stream.
  struct Gathering {
    std::int64_t from = 0;
    std::vector<std::uint8_t> bytes;
    std::int64_t filled = 0;
    void Start(std::int64_t at, std::int64_t size);
    void Take(const std::uint8_t* block, std::int64_t start, std::int64_t length);
    bool Complete() const { return filled == static_cast<std::int64_t>(bytes.size()); }
  };
  void BootSectorGathered();

  Step step_ = Step::kBootSector;
  bool triedPartition_ = false;
  Gathering gathering_;
  std::optional<FatVolume> volume_;
  std::optional<FatMap> map_;
  std::optional<FreeClusters> free_;

 public:
  CardFileSystem() { gathering_.Start(0, kBootSectorBytes); }
};

}  // namespace mendrake
