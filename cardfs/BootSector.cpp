#include "cardfs/BootSector.h"

#include <bit>
#include <cstring>

namespace mendrake {
namespace {

std::uint32_t Le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | (Le16(p + 2) << 16); }
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32); }

bool HasBootMark(const std::uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

bool IsPowerOfTwo(std::uint64_t value) { return value != 0 && std::has_single_bit(value); }

// The largest cluster any of these file systems allows (exFAT: 32 MiB).
constexpr std::int64_t kMaxClusterSize = std::int64_t{32} << 20;

std::optional<FatVolume> ReadExFat(const std::uint8_t* sector, std::int64_t volumeStart) {
  const unsigned sectorShift = sector[108];
  const unsigned clusterShift = sector[109];
  if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) return std::nullopt;
  const std::int64_t sectorSize = std::int64_t{1} << sectorShift;
  FatVolume volume;
  volume.kind = FatVolume::Kind::kExFat;
  volume.volumeStart = volumeStart;
  volume.clusterSize = sectorSize << clusterShift;
  volume.fatStart = volumeStart + std::int64_t{Le32(sector + 80)} * sectorSize;
  volume.fatBytes = std::int64_t{Le32(sector + 84)} * sectorSize;
  volume.dataStart = volumeStart + std::int64_t{Le32(sector + 88)} * sectorSize;
  volume.clusterCount = Le32(sector + 92);
  if (volume.clusterCount == 0 || Le64(sector + 72) == 0) return std::nullopt;
  return volume;
}

}  // namespace

std::string KindName(FatVolume::Kind kind) {
  switch (kind) {
    case FatVolume::Kind::kFat12: return "FAT12";
    case FatVolume::Kind::kFat16: return "FAT16";
    case FatVolume::Kind::kFat32: return "FAT32";
    case FatVolume::Kind::kExFat: return "exFAT";
  }
  return "FAT";
}

std::optional<FatVolume> ReadBootSector(const std::uint8_t* sector, std::int64_t volumeStart) {
  if (!HasBootMark(sector)) return std::nullopt;
  if (std::memcmp(sector + 3, "EXFAT   ", 8) == 0) return ReadExFat(sector, volumeStart);
  // A FAT boot sector starts with a jump to its boot code.
  if (sector[0] != 0xEB && sector[0] != 0xE9) return std::nullopt;
  const std::uint32_t sectorSize = Le16(sector + 11);
  const std::uint32_t sectorsPerCluster = sector[13];
  const std::uint32_t reserved = Le16(sector + 14);
  const std::uint32_t fatCount = sector[16];
  const std::uint32_t rootEntries = Le16(sector + 17);
  const std::uint32_t totalSectors = Le16(sector + 19) ? Le16(sector + 19) : Le32(sector + 32);
  const std::uint32_t fatSectors = Le16(sector + 22) ? Le16(sector + 22) : Le32(sector + 36);
  if (!IsPowerOfTwo(sectorSize) || sectorSize < 512 || sectorSize > 4096 || !IsPowerOfTwo(sectorsPerCluster) ||
      reserved == 0 || fatCount == 0 || fatCount > 2 || fatSectors == 0 || totalSectors == 0) {
    return std::nullopt;
  }
  const std::int64_t rootSectors = (std::int64_t{rootEntries} * 32 + sectorSize - 1) / sectorSize;
  const std::int64_t firstDataSector = reserved + std::int64_t{fatCount} * fatSectors + rootSectors;
  if (firstDataSector >= totalSectors) return std::nullopt;
  FatVolume volume;
  volume.volumeStart = volumeStart;
  volume.clusterSize = std::int64_t{sectorSize} * sectorsPerCluster;
  if (volume.clusterSize > kMaxClusterSize) return std::nullopt;
  volume.fatStart = volumeStart + std::int64_t{reserved} * sectorSize;
  volume.fatBytes = std::int64_t{fatSectors} * sectorSize;
  volume.dataStart = volumeStart + firstDataSector * sectorSize;
  volume.clusterCount = (totalSectors - firstDataSector) / sectorsPerCluster;
  // A FAT32 boot sector gives its table's length in the 32-bit field only
  // (mkfs.vfat -F 32 makes small FAT32 volumes too); otherwise the cluster
  // count decides between 12 and 16 bits, as drivers read it.
  volume.kind = Le16(sector + 22) == 0       ? FatVolume::Kind::kFat32
                : volume.clusterCount < 4085 ? FatVolume::Kind::kFat12
                                             : FatVolume::Kind::kFat16;
  return volume;
}

std::optional<std::int64_t> FirstPartitionStart(const std::uint8_t* sector) {
  if (!HasBootMark(sector)) return std::nullopt;
  // Four 16-byte entries from byte 446: a status byte of 0x00 or 0x80, a type,
  // the first sector (bytes 8-11) and the sector count (12-15).
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* entry = sector + 446 + 16 * i;
    if (entry[0] != 0x00 && entry[0] != 0x80) return std::nullopt;
    const std::uint32_t first = Le32(entry + 8);
    if (entry[4] != 0 && first != 0 && Le32(entry + 12) != 0) return std::int64_t{first} * 512;
  }
  return std::nullopt;
}

}  // namespace mendrake
