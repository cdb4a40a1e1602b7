#pragma once

#include "analysis/LogBox.h"
#include "recovery/CardReader.h"

#include <cstdint>
#include <functional>
#include <optional>
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

  // Directory entries the size searches of one window may visit (see
  // WorkBudget.h). A camera file's walk visits about fifty, and the search of
  // its window meets a few dozen chance walks in the trailer's length it
  // starts above the file's end; 65536 entries, under a millisecond of
  // walking, leave room for a thousand times that. A crafted window, whose
  // every candidate leads to another directory fanning out into sub-heaps,
  // stops there instead of walking a whole file's bound (half a second).
  static constexpr std::int64_t kMaxEntriesPerWindow = std::int64_t{1} << 16;
  // The card earns one entry for every this many bytes scanned, and its
  // windows share what it earned (plus one window's share to start with):
  // walking an entry costs about as long as reading 64 bytes from the page
  // cache, so a card whose every window is crafted costs at most about twice
  // its plain read in walks. A 3 MB photo earns fifty thousand entries.
  static constexpr std::int64_t kCardBytesPerEntry = 64;
  // Damaged pieces written for one card; further ones are counted in the
  // summary only. Camera files start at cluster starts, so only a header at a
  // sector start is kept as damaged; but a crafted card with a header at every
  // sector would still ask for a file per 512 bytes: two million on a 1 GiB card.
  static constexpr int kMaxDamagedFiles = 10000;
};

// The work and output bounds of one scan: RecoveryLimits's, or smaller ones
// that let a test reach them with a small card.
struct RecoveryBounds {
  std::int64_t maxEntriesPerWindow = RecoveryLimits::kMaxEntriesPerWindow;
  std::int64_t cardBytesPerEntry = RecoveryLimits::kCardBytesPerEntry;
  int maxDamagedFiles = RecoveryLimits::kMaxDamagedFiles;
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
  bool damaged = false;   // kept as found, without a true end; thumbnail is then its JPEG found whole
  // The camera's clock when the photo was taken (ShotTime.h); none when the
  // file records no time, and for a damaged file.
  std::optional<std::int64_t> shotTime;
  std::string thm;        // the camera's THM file written beside it; empty when none was
};

// What a scan recovers besides what it always does.
struct RecoveryOptions {
  // Files the card's FAT still lists are recovered too; by default they are
  // only counted, being on the card as they are.
  bool all = false;
  RecoveryBounds bounds;
};

struct RecoverySummary {
  int recovered = 0;
  int joined = 0;  // of those recovered, the ones put together from two pieces
  int damaged = 0;
  // Damaged pieces past RecoveryLimits::kMaxDamagedFiles, counted in damaged
  // but not written.
  int damagedNotWritten = 0;
  // Directory entries the size searches visited, within the work budget.
  std::int64_t entriesVisited = 0;
  int listed = 0;  // CRW files the FAT still lists, left alone without RecoveryOptions::all
  std::int64_t scanned = 0;
  double seconds = 0;
  bool cancelled = false;
  // The output disk filled: the scan stopped at the file it could not write.
  bool outputFull = false;
  int thms = 0;           // THM files written beside their CRW files
  // THM files found that match no CRW file written (or match several and
  // nothing tells which), not written; those past ThmScanLimits included.
  int thmsUnmatched = 0;
  // The thumbnail written last, for a preview; empty when none was written.
  std::string lastThumbnail;
  // Every file written, in card order; a photo found twice is listed once.
  std::vector<RecoveredFile> files;
};

// Scans the card from start to end for CRW headers, finds each file's true
// end by walking its heap, and writes each file found (and its thumbnail) into
// outputFolder, which must exist. A header at a sector start without a true
// end is kept as a damaged piece. Reports one line per file, per damaged
// piece written and per read error in log, then the summary line. A full
// output disk stops the scan and is said in the summary line; throws
// FileError when an output cannot be written for another reason. A file whose
// names have all been taken goes under a name of its place.
// A file written in two pieces (a camera fills the first free clusters first)
// is joined when its end is found (see PieceJoin.h); where the card's FAT
// survives, the clusters it gives to files are skipped.
RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress = {}, const RecoveryOptions& options = {});
RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress, const RecoveryBounds& bounds);

// "Recovered 11 CRW files, 0 damaged, from 3.0 GiB in 1.4 s"; with joins
// "Recovered 14 CRW files (4 joined from two pieces), 0 damaged, ...", and
// "; 5 damaged pieces counted, not written" when some were past the bound.
std::string RecoverySummaryLine(const RecoverySummary& summary);

// "12 CRW files that the card's FAT still lists were left on the card; recovering all files copies them too"
std::string ListedFilesLine(int listed);

}  // namespace mendrake
