#pragma once

#include "cardfs/BootSector.h"

#include <cstdint>
#include <string>

namespace mendrake {

// Where clusters begin on the card. A camera starts every file at a cluster
// start, and a file in pieces is cut at cluster starts, so a split and a gap
// are looked for on this grid only.
struct ClusterGrid {
  std::int64_t clusterSize = 512;
  std::int64_t dataStart = 0;  // a cluster start; the grid runs both ways from it
  std::string source;          // "FAT16", or how the grid was inferred
  // The number of the cluster at dataStart: a FAT numbers its first data
  // cluster 2; a grid inferred from headers counts from 0.
  std::int64_t firstNumber = 0;

  bool IsClusterStart(std::int64_t position) const { return Offset(position) == 0; }
  // The number of the cluster that holds position.
  std::int64_t Number(std::int64_t position) const {
    return (position - Offset(position) - dataStart) / clusterSize + firstNumber;
  }
  // The first cluster start after position.
  std::int64_t NextClusterStart(std::int64_t position) const {
    return position - Offset(position) + clusterSize;
  }

 private:
  std::int64_t Offset(std::int64_t position) const {
    const std::int64_t offset = (position - dataStart) % clusterSize;
    return offset < 0 ? offset + clusterSize : offset;
  }
};

// Bounds of a grid inferred from where the headers lie, each with its reason.
struct GridInferenceLimits {
  // Fewer headers than this share a larger step by chance too often (two
  // files four clusters apart suggest clusters four times too large).
  static constexpr std::size_t kMinHeaders = 4;
  // Cameras format cards with clusters of at most 64 KiB; a larger common
  // step says the files happen to be of round sizes, not the cluster size.
  static constexpr std::int64_t kMaxClusterSize = std::int64_t{64} << 10;
  // A sector: the grid when nothing better is known.
  static constexpr std::int64_t kSector = 512;
};

ClusterGrid GridOfVolume(const FatVolume& volume);

// The grid that the positions of the CRW headers found so far share: the
// largest power of two, within the bounds above, that divides every distance
// between them; sectors when there are too few. Kept as the headers stream
// past, in constant room and time per header, since a crafted card may hold
// a header every few bytes.
class HeaderGrid {
 public:
  void Add(std::int64_t position);
  ClusterGrid Grid() const;

 private:
  std::int64_t first_ = 0;
  std::int64_t commonDistance_ = 0;  // the greatest common divisor of the distances to the first
  std::size_t count_ = 0;
};

// "Clusters of 16 KiB from byte 163,840 (FAT16)"
std::string GridLine(const ClusterGrid& grid);

}  // namespace mendrake
