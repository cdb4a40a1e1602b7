#include "cardfs/CardFileSystem.h"

#include <algorithm>
#include <cstring>

namespace mendrake {

void CardFileSystem::Gathering::Start(std::int64_t at, std::int64_t size) {
  from = at;
  bytes.assign(static_cast<std::size_t>(size), 0);
  filled = 0;
}

void CardFileSystem::Gathering::Take(const std::uint8_t* block, std::int64_t start, std::int64_t length) {
  const std::int64_t want = from + filled;
  const std::int64_t until = std::min(start + length, from + static_cast<std::int64_t>(bytes.size()));
  if (want < start || until <= want) return;
  std::memcpy(bytes.data() + filled, block + (want - start), static_cast<std::size_t>(until - want));
  filled += until - want;
}

void CardFileSystem::Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  // One block may hold the partition table, the boot sector and the table.
  while (step_ != Step::kDone) {
    gathering_.Take(bytes, start, length);
    if (!gathering_.Complete()) return;
    if (step_ == Step::kBootSector) {
      BootSectorGathered();
    } else {
      map_ = FatMap::Read(*volume_, gathering_.bytes.data());
      if (map_) free_ = FreeClusters::Of(*map_);
      gathering_.bytes = {};
      step_ = Step::kDone;
    }
  }
}

void CardFileSystem::BootSectorGathered() {
  const std::uint8_t* sector = gathering_.bytes.data();
  volume_ = ReadBootSector(sector, gathering_.from);
  if (!volume_ && !triedPartition_) {
    triedPartition_ = true;
    if (const auto partition = FirstPartitionStart(sector); partition && *partition > 0) {
      gathering_.Start(*partition, kBootSectorBytes);
      return;
    }
  }
  if (!volume_ || volume_->kind == FatVolume::Kind::kExFat || volume_->fatBytes > kMaxTableBytes) {
    step_ = Step::kDone;
    return;
  }
  step_ = Step::kTable;
  gathering_.Start(volume_->fatStart, volume_->fatBytes);
}

void CardFileSystem::Finish() { step_ = Step::kDone; }

}  // namespace mendrake
