#pragma once

#include <cstdint>
#include <optional>
#include <string>

// crwlog --recover IMAGE OUTDIR: recovers the CRW files of a card or its
// image into OUTDIR; with all, also the files the card's FAT still lists;
// with saveImage, keeps the card's bytes in an image with its mapfile; with
// start, begins there.
// Returns the exit status: 0 every file found recovered (or still listed on
// the card), 1 some damaged or none found, 2 the image or the folder could
// not be used (a device only root may read, a folder on the card) or the
// output disk filled up.
struct RecoverRequest {
  std::string image;         // the card or its image
  std::string outputFolder;
  bool all = false;          // --all
  std::string saveImage;     // --save-image: where every byte read goes, or empty
  std::optional<std::int64_t> start;  // --start
};
int RunRecoverCommand(const RecoverRequest& request);

// crwlog --list-cards [--all-drives]: prints the attached cards, one line per
// device or partition. Returns 0, also when none is attached.
int RunListCardsCommand(bool allDrives);
