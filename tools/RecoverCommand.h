#pragma once

// crwlog --recover IMAGE OUTDIR: recovers the CRW files of a card or its
// image into OUTDIR; with all, also the files the card's FAT still lists.
// Returns the exit status: 0 every file found recovered (or still listed on
// the card), 1 some damaged or none found, 2 the image or the folder could
// not be used (a device only root may read, a folder on the card) or the
// output disk filled up.
int RunRecoverCommand(const char* image, const char* outputFolder, bool all = false);

// crwlog --list-cards [--all-drives]: prints the attached cards, one line per
// device or partition. Returns 0, also when none is attached.
int RunListCardsCommand(bool allDrives);
