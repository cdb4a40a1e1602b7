#pragma once

#include "analysis/LogBox.h"
#include "files/CardReader.h"
#include "recovery/RecoveryLimits.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mendrake {

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
  int joined = 0;  // of those recovered, the ones put together from two pieces or more
  int joinedFromMore = 0;  // of those, the ones whose three or more pieces their decode found
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
  // CRW files the card's directories name that did not come back, one line each.
  int namedNotRecovered = 0;
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
