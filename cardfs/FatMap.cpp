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
  return map;
}

bool FatMap::UsedAt(std::int64_t position) const {
  if (position < volume_.dataStart) return false;
  const std::int64_t index = (position - volume_.dataStart) / volume_.clusterSize;
  return index < static_cast<std::int64_t>(used_.size()) && used_[static_cast<std::size_t>(index)];
}

std::int64_t FatMap::NextFreeAt(std::int64_t position) const {
  if (position < volume_.dataStart) return position;
  std::int64_t index = (position - volume_.dataStart) / volume_.clusterSize;
  if (index >= static_cast<std::int64_t>(used_.size()) || !used_[static_cast<std::size_t>(index)]) return position;
  while (index < static_cast<std::int64_t>(used_.size()) && used_[static_cast<std::size_t>(index)]) ++index;
  return volume_.dataStart + index * volume_.clusterSize;
}

}  // namespace mendrake
