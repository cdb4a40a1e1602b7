#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mendrake {

// The bytes of one boot sector: enough for a FAT volume's or an exFAT
// volume's geometry, and for a partition table's first entry.
constexpr std::int64_t kBootSectorBytes = 512;

// Where a FAT volume keeps its tables and its clusters, in bytes from the
// start of the card.
struct FatVolume {
  enum class Kind { kFat12, kFat16, kFat32, kExFat };
  Kind kind = Kind::kFat16;
  std::int64_t volumeStart = 0;
  std::int64_t clusterSize = 0;
  std::int64_t fatStart = 0;     // the first copy of the allocation table
  std::int64_t fatBytes = 0;     // one copy's length
  std::int64_t dataStart = 0;    // cluster 2's first byte
  std::int64_t clusterCount = 0; // data clusters, numbered from 2
};

// "FAT16", "exFAT", ...
std::string KindName(FatVolume::Kind kind);

// The volume whose boot sector is sector (kBootSectorBytes bytes, read at
// volumeStart on the card), or nothing when the sector does not describe a
// FAT12, FAT16, FAT32 or exFAT volume with sane numbers.
std::optional<FatVolume> ReadBootSector(const std::uint8_t* sector, std::int64_t volumeStart);

// Where the first partition of a partition table (MBR) in sector begins, in
// bytes, or nothing when sector holds no such table. A FAT boot sector ends
// with the same 55 AA mark, so the caller tries it as a boot sector first.
std::optional<std::int64_t> FirstPartitionStart(const std::uint8_t* sector);

}  // namespace mendrake
