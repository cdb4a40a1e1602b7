// Cards filled the way cameras fill them over months (CameraCard.h), then
// quick-formatted or deleted on a computer, recovered as they are: no CRW
// file written is anything but a photo shot on the card, and every photo
// written in one piece that is still whole on the card comes back. How many
// photos written in two pieces come back is printed, not asserted: a join
// that is not sure stays damaged.
#include "tests/support/CameraCard.h"
#include "tests/support/CameraCardCheck.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace mendrake::testing {
namespace {

CameraCardOptions Card(bool fat32, bool nextFree, std::int64_t clusterSize, int mib, bool quickFormat, int rounds,
                       std::uint32_t seed) {
  CameraCardOptions options;
  options.fat32 = fat32;
  options.nextFree = nextFree;
  options.clusterSize = clusterSize;
  options.size = std::int64_t{mib} << 20;
  options.quickFormat = quickFormat;
  options.seed = seed;
  options.rounds = rounds;
  options.shotsPerRound = 16;
  options.deletePercent = 40;
  options.jpgPercent = 10;
  // Photos of 40 to 90 KiB: tens of clusters each, and cards of a few
  // hundred shots' room kept small.
  options.width = 256;
  options.height = 192;
  return options;
}

// The card with shots of another kind, none with a JPG: as the camera-card
// fuzz target makes them.
CameraCardOptions Shots(CameraCardOptions options, int perRound, int deletePercent, std::uint32_t width,
                        std::uint32_t height) {
  options.shotsPerRound = perRound;
  options.deletePercent = deletePercent;
  options.jpgPercent = 0;
  options.width = width;
  options.height = height;
  return options;
}

CameraCardOptions WithJpgs(CameraCardOptions options, int jpgPercent) {
  options.jpgPercent = jpgPercent;
  return options;
}

// Cards about the smallest each FAT allows for their clusters: FAT16 from
// 4,085 clusters, FAT32 from 65,525. First fit splits photos from the second
// round on; the next-free hint only once it wraps past the card's end, which
// the 9 MiB card's ten rounds do.
const CameraCardOptions kCards[] = {
    Card(false, false, 2 << 10, 12, true, 5, 1),
    Card(false, true, 2 << 10, 9, false, 10, 2),
    Card(false, false, 4 << 10, 17, true, 4, 3),
    Card(false, false, 8 << 10, 33, false, 5, 11),
    // A first cluster followed by another photo's body at the same offsets,
    // and a photo followed by its pointer's bytes again: the card's
    // directory tells both.
    Card(false, false, 8 << 10, 33, false, 5, 7),
    Card(false, false, 8 << 10, 33, false, 5, 10),
    Card(true, true, 512, 33, true, 4, 5),
    Card(true, false, 512, 33, false, 5, 6),
    // A first piece that the next photo's header cut went on right after
    // that photo's first piece, and a photo in three pieces whose middle
    // piece is as long closed a run of seams that read both photos shifted
    // by that length.
    Shots(Card(true, false, 512, 33, false, 7, 0), 10, 40, 256, 160),
    // A photo's middle piece of two clusters lay beside old clusters, and
    // another photo's piece of two clusters lay between two files; and
    // with another seed, a photo overwrote the second cluster of a deleted
    // one, whose old clusters after it were as long as its middle piece.
    Shots(Card(false, false, 2 << 10, 9, true, 8, 2621686), 16, 30, 320, 128),
    Shots(Card(false, false, 2 << 10, 9, true, 8, 2621695), 16, 30, 256, 160),
    // A photo's first piece ran on to the next header through one cluster
    // of another photo's coded data, as long as its own middle piece.
    Shots(Card(false, false, 2 << 10, 9, true, 8, 0), 15, 50, 320, 160),
    // A photo's first piece ran on into another photo's second piece, whose
    // low bits hid the seam, and its decode broke at its stream: where it
    // broke fixes no side of the seam.
    Shots(Card(false, false, 2 << 10, 9, true, 8, 255), 16, 30, 256, 160),
    // Two photos in three pieces whose middle clusters lay side by side,
    // each read as two pieces with the other's middle cluster.
    Shots(Card(false, false, 2 << 10, 9, true, 8, 0), 16, 50, 256, 160),
    // A photo's first piece ended in its low bits, and another photo's piece
    // after it held that photo's stream a cluster on: decoded, it ran on
    // into the photo's own stream 484 bytes in, which passed for the seam.
    WithJpgs(Shots(Card(true, false, 512, 33, false, 7, 268434948), 16, 50, 256, 128), 10),
    // A THM's last cluster, its coded tail two marks long, lay between a
    // photo's first piece and the next header, as long as its middle piece.
    Shots(Card(true, false, 512, 33, false, 3, 0), 11, 60, 128, 128),
};

TEST(CameraCards, EveryCrwWrittenIsAPhotoShotAndEveryWholeOnePiecePhotoComesBack) {
  ScratchFolder scratch;
  int card = 0;
  for (const CameraCardOptions& options : kCards) {
    const std::string described = DescribeCameraCard(options);
    SCOPED_TRACE(described);
    const CameraCard made = MakeCameraCard(options);
    const std::string folder = scratch / ("card-" + std::to_string(++card));
    std::filesystem::create_directories(PathFromUtf8(folder));
    const CameraCardCheck check = RecoverAndCheckCameraCard(made, folder);
    for (const WrongCrw& wrong : check.wrong) {
      ADD_FAILURE() << wrong.name << " is no photo shot on the card (" << described << ")\n  its line: " << wrong.line
                    << "\n  made of: " << WhatTheFileIsMadeOf(ReadFile(folder + "/" + wrong.name), made);
    }
    for (const std::string& name : check.missed) {
      ADD_FAILURE() << name << " lay whole in one piece and did not come back (" << described << ")";
    }
    EXPECT_GT(check.wholeInOnePiece, 0) << described;
    std::printf("%s: %d of %d whole photos in one piece back, %d of %d in two pieces, %d damaged, %d CRW written\n",
                described.c_str(), check.wholeInOnePiece - static_cast<int>(check.missed.size()),
                check.wholeInOnePiece, check.backInTwoPieces, check.wholeInTwoPieces, check.summary.damaged,
                check.summary.recovered);
  }
}

}  // namespace
}  // namespace mendrake::testing
