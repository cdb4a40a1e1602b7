#pragma once

#include <cstdint>

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
  // Reads held at once by the reading thread of a card in its reader and the
  // scan: one being read, one being scanned, and two to even out their
  // paces, 8 MiB in all. An image file needs none (CardReader.h).
  static constexpr int kReadAheadBlocks = 4;
  // Bytes in a row that may fail to read before the scan stops. A card with
  // bad spots fails in runs of sectors to a few MiB; a card that has dropped
  // out of its reader, or a reader that has failed, fails every read to the
  // card's end. No photo spans more than kMaxCrwSize, so past 64 MiB of
  // unreadable bytes no file still open can be saved, and the user is better
  // served told where to go on (after a few seconds of failed reads) than by
  // a scan of zeros to the end.
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

}  // namespace mendrake
