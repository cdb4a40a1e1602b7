#pragma once

#include "tests/support/CrwBuilder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mendrake::testing {

// A card filled the way a camera fills one over months: rounds of shooting
// (each CRW followed by its THM, some shots with a JPG too) and of deleting
// in the camera, then quick-formatted or deleted on a computer. The FAT and
// directories are written as the camera writes them, so each file lies in
// the clusters the allocator gave it: the first free ones (first fit), or
// the next free ones after the last file written, wrapping to the card's
// start (the FAT32 next-free hint). The files are listed in DCIM/100CANON,
// whose clusters a quick format leaves as they were.
struct CameraCardOptions {
  std::int64_t size = std::int64_t{256} << 20;
  bool fat32 = false;
  std::int64_t clusterSize = 16 << 10;  // 2 to 32 KiB
  bool nextFree = false;                // false: first fit
  int rounds = 6;
  int shotsPerRound = 24;
  int deletePercent = 30;        // of the photos on the card, deleted after each round but the last
  int jpgPercent = 20;           // of the shots, with a JPG after the THM
  bool quickFormat = true;       // false: every file deleted on a computer
  std::uint32_t seed = 1;
  // The sensor of the photos, whose raw data is compressed as the camera's.
  std::uint32_t width = 1536;
  std::uint32_t height = 1024;
};

struct CameraCardPhoto {
  std::string name;  // "CRW_0012.CRW"
  Bytes bytes;
  int pieces = 0;  // runs of clusters the allocator gave it
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;  // their card bytes, [from, to)
  bool deletedInCamera = false;
};

struct CameraCard {
  Bytes image;
  std::vector<CameraCardPhoto> photos;  // every CRW shot, in the order shot
};

CameraCard MakeCameraCard(const CameraCardOptions& options);

}  // namespace mendrake::testing
