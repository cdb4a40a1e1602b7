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
  // Bytes in a row that may fail to read before the scan stops. A card with
  // bad spots fails in runs of sectors to a few MiB; a card that has dropped
  // out of its reader, or a reader that has failed, fails every read to the
  // card's end. No photo spans more than kMaxCrwSize, so past 64 MiB of
  // unreadable bytes no file still open can be saved, and the user is better
  // served told where to go on (after a few seconds of failed sector reads)
  // than by a scan of zeros to the end.
  static constexpr std::int64_t kMaxUnreadableRun = std::int64_t{64} << 20;

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
  std::int64_t maxUnreadableRun = RecoveryLimits::kMaxUnreadableRun;
};

struct RecoveryProgress {
  std::int64_t scanned = 0;  // the card position reached
  std::int64_t total = 0;    // the card's size
  int filesFound = 0;
  std::int64_t start = 0;    // where this scan began (RecoveryOptions::start)
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

// What a scan recovers besides what it always does.
struct RecoveryOptions {
  // Files the card's FAT still lists are recovered too; by default they are
  // only counted, being on the card as they are.
  bool all = false;
  RecoveryBounds bounds;
  // Where the scan begins, to go on from where an earlier one stopped
  // (rounded down to a sector start); given, an image of imagePath made by
  // that run is filled further, with its mapfile, instead of being refused.
  // The card's file system lies at its start: a scan begun later has no FAT
  // and recovers the files it still lists too.
  std::optional<std::int64_t> start;
  // Where every byte read goes, in an image of the card with a GNU ddrescue
  // mapfile beside it (see CardImageSaver.h); empty for none. The caller
  // refuses an image on the card itself (RefuseImageOnCard).
  std::string imagePath;
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
  // The thumbnail written last, for a preview; empty when none was written.
  std::string lastThumbnail;
  // Every file written, in card order; a photo found twice is listed once.
  std::vector<RecoveredFile> files;
  std::int64_t start = 0;  // where the scan began
  std::int64_t size = 0;   // the card's
  // Reading ended before the card's end: the card is gone, or too much in a
  // row could not be read (RecoveryLimits::kMaxUnreadableRun). The files found
  // before stay; stoppedAt is the first byte not read, where a scan with
  // RecoveryOptions::start goes on.
  enum class Stop { kNone, kCardGone, kUnreadable };
  Stop stopped = Stop::kNone;
  std::int64_t stoppedAt = 0;
  std::int64_t unreadableRun = 0;  // the bound kUnreadable met
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
// A scan that stopped early says so first, then where to go on:
// "Stopped at byte 1048576 of 3221225472: the card is gone from its reader.
// Recovered 2 CRW files, 0 damaged, from 1.0 MiB in 0.2 s. To go on from
// there: crwlog --recover with --start 1048576 (and the same --save-image to
// fill the same image and mapfile)."
std::string RecoverySummaryLine(const RecoverySummary& summary);

// "12 CRW files that the card's FAT still lists were left on the card; recovering all files copies them too"
std::string ListedFilesLine(int listed);

}  // namespace mendrake
