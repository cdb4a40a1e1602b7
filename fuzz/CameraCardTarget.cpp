#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "fuzz/Sandbox.h"
#include "tests/support/CameraCard.h"
#include "tests/support/CameraCardCheck.h"

#include <cstdio>

namespace mendrake::fuzz {
namespace {

using testing::CameraCardOptions;

// The input's byte at, or 0 past its end: every input, even the empty one, is a card.
std::uint8_t ByteAt(const std::uint8_t* data, std::size_t size, std::size_t at) { return at < size ? data[at] : 0; }

// About the smallest card its FAT allows for the cluster (FAT16 from 4,085
// clusters, FAT32 from 65,525; 2 MiB more hold the tables), so that a few
// rounds of shooting fill it.
std::int64_t SmallestCard(bool fat32, std::int64_t clusterSize) {
  constexpr std::int64_t kMiB = std::int64_t{1} << 20;
  return (fat32 ? 65525 : 4085) * clusterSize / kMiB * kMiB + 2 * kMiB;
}

// Byte 0: FAT32, the next-free hint, deleted on a computer (bits 0 to 2);
// byte 1: FAT16's clusters of 2, 4 or 8 KiB (FAT32 takes 512 bytes, the
// only size that keeps its card near 32 MiB); bytes 2 and 3: 1 to 8
// rounds of 1 to 16 shots; bytes 4 and 5: 0 to 90 % deleted in the camera,
// 0 to 40 % with a JPG; byte 6: a sensor of 128 to 320 by 128 to 192; bytes
// 7 to 10: the seed.
CameraCardOptions CameraCardOptionsOf(const std::uint8_t* data, std::size_t size) {
  const auto at = [&](std::size_t index) { return ByteAt(data, size, index); };
  CameraCardOptions options;
  options.fat32 = (at(0) & 1) != 0;
  options.nextFree = (at(0) & 2) != 0;
  options.quickFormat = (at(0) & 4) == 0;
  options.clusterSize = options.fat32 ? 512 : std::int64_t{2048} << (at(1) % 3);
  options.size = SmallestCard(options.fat32, options.clusterSize);
  options.rounds = 1 + at(2) % 8;
  options.shotsPerRound = 1 + at(3) % 16;
  options.deletePercent = at(4) % 10 * 10;
  options.jpgPercent = at(5) % 5 * 10;
  options.width = 128 + 64 * (at(6) % 4);
  options.height = 128 + 32 * (at(6) / 4 % 3);
  options.seed = static_cast<std::uint32_t>(at(7) | at(8) << 8 | at(9) << 16 | std::uint32_t{at(10)} << 24);
  return options;
}

}  // namespace

void RecoverCameraCardBytes(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox("camera-card");
  const CameraCardOptions options = CameraCardOptionsOf(data, size);
  const testing::CameraCard card = testing::MakeCameraCard(options);
  const testing::CameraCardCheck check =
      testing::RecoverAndCheckCameraCard(card, sandbox.Fresh().string());
  sandbox.CheckNothingOutside();
  if (check.wrong.empty()) return;
  std::fprintf(stderr, "card: %s\n", testing::DescribeCameraCard(options).c_str());
  for (const testing::WrongCrw& wrong : check.wrong) {
    const testing::Bytes bytes = testing::ReadFile((sandbox.Output() / wrong.name).string());
    std::fprintf(stderr, "%s\n  made of: %s\n", wrong.line.c_str(), testing::WhatTheFileIsMadeOf(bytes, card).c_str());
  }
  Broken("a CRW file written is no photo shot on the card");
}

}  // namespace mendrake::fuzz
