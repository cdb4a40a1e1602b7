#pragma once

#include "analysis/FileImage.h"
#include "cardfs/ClusterGrid.h"
#include "recovery/CrwEnd.h"
#include "recovery/EndScan.h"
#include "recovery/RecentBytes.h"
#include "recovery/WorkBudget.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mendrake {

// Bounds of the join of two pieces, each with its reason.
struct JoinLimits {
  // The clusters between two pieces of one file: published practice puts the
  // useful gap under about 1,000 clusters; 4,096 clusters or 64 MiB,
  // whichever is smaller, leaves room past that while a first piece waits
  // only a bounded stretch of the card for its end.
  static constexpr std::int64_t kMaxGapClusters = 4096;
  static constexpr std::int64_t kMaxGapBytes = std::int64_t{64} << 20;
  // First pieces held in memory while they wait for their ends; past this the
  // oldest gives up and is kept as damaged. Cameras leave a few holes at a
  // time, each smaller than one photo.
  static constexpr std::int64_t kMaxWaitingBytes = std::int64_t{64} << 20;
  // First pieces waiting at once: every end is tried against each, so a card
  // with a header at every sector must not line up thousands of them.
  static constexpr std::size_t kMaxWaitingPieces = 64;
  // Cluster starts tried as the end of a first piece: where another file
  // begins, then the next CRW header.
  static constexpr std::size_t kMaxSplits = 8;

  static std::int64_t MaxGap(std::int64_t clusterSize) {
    return kMaxGapClusters * clusterSize < kMaxGapBytes ? kMaxGapClusters * clusterSize : kMaxGapBytes;
  }
};

// The bytes from a CRW header on, up to where its window closed, when no true
// end lay among them.
struct FirstPiece {
  std::int64_t start = 0;
  std::vector<std::uint8_t> bytes;
  bool bigEndian = false;
  std::uint32_t headerLength = 26;
  std::string whyDamaged;  // how its window closed, for the line when no join is found
};

// Where the joiner's results go, in the order they are settled.
class PieceSink {
 public:
  virtual ~PieceSink() = default;
  // bytes hold the whole joined file (end.trueSize bytes), which passed
  // validation; the second piece began gapClusters clusters after the first ended.
  virtual void Joined(std::int64_t start, const FileImage& bytes, const CrwEnd& end, std::int64_t gapClusters) = 0;
  // No end joins the piece, or two readings tie; reason says which.
  virtual void Unjoined(const FirstPiece& piece, const std::string& reason) = 0;
};

// Joins files written in two pieces, in the one pass over the card. A first
// piece waits for an end that no header claims (an end without a start);
// they are one file when the end lies after the header, the gap (end minus
// header minus the file's length) is a positive whole number of clusters
// within JoinLimits, and the joined bytes pass validation. While a piece
// waits, the last stretch of the card that a second piece may span is kept,
// so that nothing is read twice.
class PieceJoiner {
 public:
  // scratch is the size search's cut of a window, shared with the scan so
  // that its room is held once. Joins are tried only while the card's work
  // budget lasts, and spend from it.
  PieceJoiner(PieceSink& sink, FileImage& scratch, WorkBudget& budget);

  // The grid may change while pieces wait, as it is inferred from more headers.
  void SetGrid(const ClusterGrid& grid) { grid_ = grid; }
  // A CRW header at position: the first end of the heap that begins
  // headerLength bytes on belongs to that header's own file, not to a
  // waiting piece; a later end that lines up with it too (files of one size)
  // does not.
  void NoteHeader(std::int64_t position, std::uint32_t headerLength) {
    ownEnds_.emplace(position + headerLength, OwnFile{position, -1});
  }
  // The header whose heap begins at heapStart was written in one piece, which ends at end.
  void NoteOwnEnd(std::int64_t heapStart, std::int64_t end) { ownEnds_[heapStart].end = end; }
  // Takes a first piece; its own bytes may already hold its second piece.
  void Wait(FirstPiece piece);
  // The card's next block, in card order.
  void Feed(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);
  // The card has ended: every piece still waiting is settled as unjoined.
  void Finish();
  bool Waiting() const { return !waiting_.empty(); }

 private:
  struct Waiter {
    FirstPiece piece;
    std::vector<std::int64_t> splits;  // candidate first-piece lengths, in order
    ClusterGrid splitsGrid;            // the grid the splits were found on
    std::string rejected;              // why the last end that fitted it did not join
  };
  struct Reading {
    std::size_t waiter;
    std::int64_t split;
  };
  std::vector<std::int64_t> SplitsOf(const FirstPiece& piece) const;
  const std::vector<std::int64_t>& Splits(Waiter& waiter) const;
  void ScanEnds(std::int64_t to);
  void TryEnd(const RootEnd& end);
  std::string Assemble(const Waiter& waiter, std::int64_t split, const RootEnd& end);
  bool CopyCard(const Waiter& waiter, std::int64_t from, std::int64_t to);
  void Settle(std::size_t waiter, const std::string& reason);
  std::string Unjoined(const Waiter& waiter, const std::string& why) const;
  void Expire(std::int64_t now);
  void ForgetOwnEndsBefore(std::int64_t position);

  PieceSink& sink_;
  ClusterGrid grid_;
  // The end of each header's own file by the header's heap start; -1 until known.
  struct OwnFile {
    std::int64_t header = 0;
    std::int64_t end = -1;
  };
  std::map<std::int64_t, OwnFile> ownEnds_;
  // The pieces of the files joined so far: [from, to) and the file's start.
  struct JoinedPiece {
    std::int64_t from, to, file;
  };
  std::vector<JoinedPiece> joinedPieces_;
  // The start of a file already found (in one piece or joined) that the card
  // bytes [from, to) overlap, or -1.
  std::int64_t FileFoundWithin(std::int64_t from, std::int64_t to) const;
  std::vector<Waiter> waiting_;
  std::int64_t waitingBytes_ = 0;
  std::int64_t fedTo_ = 0;  // the card bytes fed so far, which earned the budget
  WorkBudget& budget_;
  // The card's last bytes, kept while a piece waits.
  RecentBytes recent_;
  std::int64_t scannedTo_ = 0;  // directories before this were looked at
  FileImage joined_;
  FileImage& scratch_;
  CrwEnd joinedEnd_;
};

}  // namespace mendrake
