#pragma once

#include "analysis/LogBox.h"
#include "recovery/CardRecovery.h"
#include "tests/support/CameraCard.h"

#include <string>
#include <vector>

namespace mendrake::testing {

// A camera card's recovery held against the photos shot on it. The promise
// is that no CRW file written is anything but one of those photos; a photo
// written in one piece and still whole on the card is the least the scan
// must give back; a photo in two pieces is given back when the join is sure.
struct WrongCrw {
  std::string name;
  std::string line;  // the log line that names it
};

struct CameraCardCheck {
  RecoverySummary summary;
  LogLines log;
  std::vector<WrongCrw> wrong;  // CRW files written that are no photo shot on the card
  // Photos in one piece, still whole on the card, that did not come back.
  std::vector<std::string> missed;
  int wholeInOnePiece = 0;
  int wholeInTwoPieces = 0;  // both pieces still on the card as written
  int backInTwoPieces = 0;   // of those, the ones given back byte for byte
};

// Recovers the card into folder (which must exist and be empty) and checks
// every CRW file written there.
CameraCardCheck RecoverAndCheckCameraCard(const CameraCard& card, const std::string& folder);

// "FAT16, first fit, 2 KiB clusters, 16 MiB, 4 rounds of 12 shots, 30% deleted
// in the camera, quick format, sensor 256x192, seed 1": enough to make the card again.
std::string DescribeCameraCard(const CameraCardOptions& options);

// What a wrong file is made of: each stretch of it that is the card's bytes,
// and the photos whose bytes those are ("bytes 0-16384: card 329216-345600
// (CRW_0068.CRW 0-16384); bytes 16384-66942: card 1828352-1878910
// (CRW_0074.CRW 16384-66942)"); the rest as on no sector of the card.
std::string WhatTheFileIsMadeOf(const Bytes& file, const CameraCard& card);

}  // namespace mendrake::testing
