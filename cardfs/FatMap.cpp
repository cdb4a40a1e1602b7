#include "cardfs/FatMap.h"

#include <algorithm>

namespace mendrake {
namespace {

std::uint32_t Entry(const FatVolume& volume, const std::uint8_t* fat, std::int64_t cluster) {
  switch (volume.kind) {
    case FatVolume::Kind::kFat12: {
      // Two 12-bit entries share three bytes.
      const std::uint8_t* p = fat + cluster * 3 / 2;
      const std::uint32_t pair = p[0] | (p[1] << 8);
      return cluster % 2 ? pair >> 4 : pair & 0xFFF;
    }
    case FatVolume::Kind::kFat16: {
      const std::uint8_t* p = fat + cluster * 2;
      return p[0] | (p[1] << 8);
    }
    default: {
      const std::uint8_t* p = fat + cluster * 4;
      return (p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24)) & 0x0FFFFFFF;
    }
  }
}

std::int64_t EntryBits(FatVolume::Kind kind) {
  return kind == FatVolume::Kind::kFat12 ? 12 : kind == FatVolume::Kind::kFat16 ? 16 : 32;
}

}  // namespace

std::optional<FatMap> FatMap::Read(const FatVolume& volume, const std::uint8_t* fat) {
  if (volume.kind == FatVolume::Kind::kExFat) return std::nullopt;
  const std::int64_t entries = std::min(volume.clusterCount + 2, volume.fatBytes * 8 / EntryBits(volume.kind));
  if (entries < 3) return std::nullopt;
  // Entry 0 repeats the media byte (0xF0 or 0xF8 to 0xFF); entry 1 is an end of chain.
  if (fat[0] < 0xF0 || fat[1] != 0xFF) return std::nullopt;
  FatMap map;
  map.volume_ = volume;
  map.used_.resize(static_cast<std::size_t>(entries - 2));
  for (std::int64_t cluster = 2; cluster < entries; ++cluster) {
    const bool used = Entry(volume, fat, cluster) != 0;
    map.used_[static_cast<std::size_t>(cluster - 2)] = used;
    map.usedCount_ += used;
  }
  map.FindOwners(fat, entries);
  return map;
}

void FatMap::FindOwners(const std::uint8_t* fat, std::int64_t entries) {
  const auto count = static_cast<std::size_t>(entries - 2);
  std::vector<bool> linkedTo(count);
  for (std::int64_t cluster = 2; cluster < entries; ++cluster) {
    const std::uint32_t next = Entry(volume_, fat, cluster);
    if (next >= 2 && next < entries) linkedTo[next - 2] = true;
  }
  owner_.assign(count, 0);
  // A chain starts at a used cluster that no other links to; each cluster is
  // given once, so a loop or a link into another chain costs no second walk.
  for (std::size_t head = 0; head < count; ++head) {
    if (!used_[head] || linkedTo[head]) continue;
    for (std::int64_t cluster = static_cast<std::int64_t>(head) + 2; cluster >= 2 && cluster < entries;) {
      const auto index = static_cast<std::size_t>(cluster - 2);
      if (!used_[index] || owner_[index] != 0) break;
      owner_[index] = static_cast<std::uint32_t>(head + 2);
      cluster = Entry(volume_, fat, cluster);
    }
  }
  for (std::size_t index = 0; index < count; ++index) {
    if (used_[index] && owner_[index] == 0) owner_[index] = static_cast<std::uint32_t>(index + 2);
  }
}

std::uint32_t FatMap::OwnerAt(std::int64_t position) const {
  if (position < volume_.dataStart) return 0;
  const std::int64_t index = (position - volume_.dataStart) / volume_.clusterSize;
  return index < static_cast<std::int64_t>(owner_.size()) ? owner_[static_cast<std::size_t>(index)] : 0;
}

}  // namespace mendrake
