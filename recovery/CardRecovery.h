#pragma once

#include "analysis/LogBox.h"
#include "recovery/CardReader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mendrake {

// Bounds of a card scan, each with its reason.
struct RecoveryLimits {
  // The most bytes one CRW file may span. The cameras that wrote CRW files
  // wrote about 3 to 10 MB per photo; 64 MiB leaves room for any of them and
  // keeps the one window held in memory small.
  static constexpr std::int64_t kMaxCrwSize = std::int64_t{64} << 20;
  // One sequential read: large enough that the card or the page cache, not
  // the system calls, set the pace.
  static constexpr std::int64_t kReadSize = std::int64_t{8} << 20;
  // After a failed large read the block is read again in sectors, so that one
  // bad sector costs only its own bytes.
  static constexpr std::int64_t kSectorSize = 512;
};

struct RecoveryProgress {
  std::int64_t scanned = 0;
  std::int64_t total = 0;
  int filesFound = 0;
};

// Called after every read; returning false cancels the scan between files, so
// nothing half-written is left behind.
using RecoveryProgressFn = std::function<bool(const RecoveryProgress&)>;

// A file the scan wrote.
struct RecoveredFile {
  std::string path;
  std::string thumbnail;  // its thumbnail written beside it; empty when it has none
  std::int64_t size = 0;
  std::string camera;     // make and model; empty when the file names none
  bool damaged = false;   // kept as found, without a true end
};

struct RecoverySummary {
  int recovered = 0;
  int damaged = 0;
  std::int64_t scanned = 0;
  double seconds = 0;
  bool cancelled = false;
  // The output disk filled: the scan stopped at the file it could not write.
  bool outputFull = false;
  // The thumbnail written last, for a preview; empty when none was written.
  std::string lastThumbnail;
  // Every file written, in card order; a photo found twice is listed once.
  std::vector<RecoveredFile> files;
};

// Scans the card from start to end for CRW headers, finds each file's true
// end by walking its heap, and writes each file found (and its thumbnail) into
// outputFolder, which must exist. Reports one line per file and per read error
// in log, then the summary line. A full output disk stops the scan and is said
// in the summary line; throws FileError when an output cannot be written for
// another reason.
RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress = {});

// "Recovered 11 CRW files, 0 damaged, from 3.0 GiB in 1.4 s"
std::string RecoverySummaryLine(const RecoverySummary& summary);

}  // namespace mendrake
