#pragma once

#include "analysis/LogBox.h"
#include "recovery/CardReader.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mendrake {

// Bounds of a card scan, each with its reason.
struct RecoveryLimits {
  // The most bytes one CRW file may span. The cameras that wrote CRW files
  // wrote about 3 to 10 MB per photo; 64 MiB leaves room for any of them and
  // keeps the one window held in memory small.
  static constexpr std::int64_t kMaxCrwSize = std::int64_t{64} << 20;
  // One sequential read: large enough that the card or the page cache, not
  // the system calls, set the pace, and small enough that the blocks read
  // ahead still sit in the processor's cache when they are scanned (with
  // 8 MiB reads the copy from the page cache took a third more time).
  static constexpr std::int64_t kReadSize = std::int64_t{2} << 20;
  // After a failed large read the block is read again in sectors, so that one
  // bad sector costs only its own bytes.
  static constexpr std::int64_t kSectorSize = 512;
  // Reads held at once by the reading thread and the scan: one being read,
  // one being scanned, and two to even out their paces, 8 MiB in all.
  static constexpr int kReadAheadBlocks = 4;
};

struct RecoveryProgress {
  std::int64_t scanned = 0;
  std::int64_t total = 0;
  int filesFound = 0;
};

// Called after every read; returning false cancels the scan between files, so
// nothing half-written is left behind.
using RecoveryProgressFn = std::function<bool(const RecoveryProgress&)>;

// What a scan recovers besides what it always does.
struct RecoveryOptions {
  // Files the card's FAT still lists are recovered too; by default they are
  // only counted, being on the card as they are.
  bool all = false;
};

struct RecoverySummary {
  int recovered = 0;
  int joined = 0;  // of those recovered, the ones put together from two pieces
  int damaged = 0;
  int listed = 0;  // CRW files the FAT still lists, left alone without RecoveryOptions::all
  std::int64_t scanned = 0;
  double seconds = 0;
  bool cancelled = false;
  // The thumbnail written last, for a preview; empty when none was written.
  std::string lastThumbnail;
};

// Scans the card from start to end for CRW headers, finds each file's true
// end by walking its heap, and writes each file found (and its thumbnail) into
// outputFolder, which must exist. Reports one line per file and per read error
// in log, then the summary line. Throws FileError when an output cannot be written.
// A file written in two pieces (a camera fills the first free clusters first)
// is joined when its end is found (see PieceJoin.h); where the card's FAT
// survives, the clusters it gives to files are skipped.
RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress = {}, const RecoveryOptions& options = {});

// "Recovered 11 CRW files, 0 damaged, from 3.0 GiB in 1.4 s"; with joins
// "Recovered 14 CRW files (4 joined from two pieces), 0 damaged, ..."
std::string RecoverySummaryLine(const RecoverySummary& summary);

// "12 CRW files that the card's FAT still lists were left on the card; recovering all files copies them too"
std::string ListedFilesLine(int listed);

}  // namespace mendrake
