// A photo in three pieces whose seams lie where its decode sees none.
#include "recovery/PieceJoin.h"

#include "recovery/FileEndMarks.h"
#include "recovery/RawDataCheck.h"
#include "recovery/RecoveryLimits.h"

#include <algorithm>

namespace mendrake {

// A camera fills a hole from its first cluster and goes on in the next one
// after a file that was there. Where a photo took two holes and then the
// clusters after a third file, in the low bits (or with raw data the decoder
// does not know), the files around fix every side of both seams: its first
// piece ends at a next file's header, its middle piece begins right after a
// file's end and ends at another header, and its last piece begins right
// after a file's end. The card's directory gives its size, so the middle
// piece's length is the size less the others': of the files found around
// it, exactly one placing of that length may pass every check.

void PieceJoiner::NoteFileExtent(std::int64_t from, std::int64_t to) {
  if (extents_.size() < JoinLimits::kMaxFileExtents) extents_[from] = to;
}

// Cluster starts in [from, to) right after a file found on the card ends,
// in order.
std::vector<std::int64_t> PieceJoiner::ClustersAfterFileEnds(std::int64_t from, std::int64_t to) const {
  std::vector<std::int64_t> after;
  const auto add = [&](std::int64_t end) {
    const std::int64_t at = grid_.NextClusterStart(end - 1);
    if (at >= from && at < to) after.push_back(at);
  };
  for (auto it = cameraEnds_.lower_bound(from - grid_.clusterSize); it != cameraEnds_.end() && *it < to; ++it) add(*it);
  for (const JoinedPiece& piece : joinedPieces_) add(piece.to);
  for (const auto& [begin, end] : extents_) add(end);
  std::sort(after.begin(), after.end());
  after.erase(std::unique(after.begin(), after.end()), after.end());
  return after;
}

// Where files found on the card begin in [from, to), in order: headers of
// files found or waiting, pieces joined, THMs.
std::vector<std::int64_t> PieceJoiner::FileStartsWithin(std::int64_t from, std::int64_t to) const {
  std::vector<std::int64_t> starts;
  const auto add = [&](std::int64_t at) {
    if (at >= from && at < to) starts.push_back(at);
  };
  for (const auto& [heap, own] : ownEnds_) add(own.header);
  for (const JoinedPiece& piece : joinedPieces_) add(piece.from);
  for (const Waiter& waiter : waiting_) add(waiter.piece.start);
  for (const auto& [begin, end] : extents_) add(begin);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

bool PieceJoiner::TryAnchoredThreePieces(const RootEnd& end) {
  std::vector<FoundChain> found;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const Waiter& waiter = waiting_[i];
    if (std::none_of(waiter.fitted.begin(), waiter.fitted.end(),
                     [&](const RootEnd& fitted) { return fitted.end == end.end; })) {
      continue;
    }
    const std::int64_t size = end.FileSize(waiter.piece.headerLength);
    // Its later pieces are put together from what is kept of the card.
    const std::int64_t from = std::max(waiter.piece.start, recent_.Start());
    const std::vector<std::int64_t> after = ClustersAfterFileEnds(from, end.end);
    const std::vector<std::int64_t> starts = FileStartsWithin(from, end.end);
    const auto pieceSize = static_cast<std::int64_t>(waiter.piece.bytes.size());
    for (const std::int64_t split : waiter.splits) {
      if (split >= size) break;
      if (split == pieceSize && !waiter.piece.closedByHeader) continue;
      const std::int64_t firstEnd = waiter.piece.start + split;
      for (const std::int64_t lastFrom : after) {
        const std::int64_t middle = size - split - (end.end - lastFrom);
        if (lastFrom <= firstEnd || middle <= 0 || middle % grid_.clusterSize != 0) continue;
        for (const std::int64_t middleTo : starts) {
          const std::int64_t middleFrom = middleTo - middle;
          if (middleTo > lastFrom) break;
          if (middleFrom <= firstEnd || middleFrom < from) continue;
          if (found.size() > 1) return false;  // a tie already: nothing more to weigh
          const std::vector<CardPiece> pieces{
              {waiter.piece.start, firstEnd}, {middleFrom, middleTo}, {lastFrom, end.end}};
          if (FileFoundWithin(middleFrom, middleTo) >= 0 || FileFoundWithin(lastFrom, end.end) >= 0) continue;
          // A camera JPG before the middle piece is no file the scan keeps,
          // but its markers, read from its start, tell where it ends.
          if (!std::binary_search(after.begin(), after.end(), middleFrom) && !WholeFileEndsBefore(middleFrom)) {
            continue;
          }
          // A placing that failed fails again: more files found only add faults.
          const AnchoredPlacing placing{waiter.piece.start, split, middleFrom, lastFrom, end.end};
          if (failedPlacings_.count(placing) != 0) continue;
          CrwEnd crwEnd;
          if (!ThreePieceFault(waiter, pieces, size, crwEnd).empty()) {
            if (failedPlacings_.size() < JoinLimits::kMaxFailedPlacings) failedPlacings_.insert(placing);
            continue;
          }
          PieceChain chain;
          chain.kind = PieceChain::Kind::kFound;
          chain.pieces = pieces;
          found.push_back({i, std::move(chain), crwEnd});
        }
      }
    }
  }
  if (found.size() != 1) return false;
  JoinChain(found.front(), true);
  return true;
}

// A piece joined since the ends fitted to waiting pieces were weighed may
// be the file beside one of their seams: each is weighed again, until no
// placing joins.
bool PieceJoiner::RetryAnchoredThreePieces() {
  if (anchoredTriedAt_ == joinedPieces_.size()) return false;
  anchoredTriedAt_ = joinedPieces_.size();
  std::vector<RootEnd> ends;
  for (const Waiter& waiter : waiting_) ends.insert(ends.end(), waiter.fitted.begin(), waiter.fitted.end());
  for (const RootEnd& end : ends) {
    if (TryAnchoredThreePieces(end)) return true;
  }
  return false;
}

// The checks of a file put together from pieces, and what a seam in the
// low bits must pass besides: no root directory ends among them, and no
// cluster of them holds coded data.
std::string PieceJoiner::ThreePieceFault(const Waiter& waiter, const std::vector<CardPiece>& pieces,
                                         std::int64_t size, CrwEnd& found) {
  std::int64_t signalFrom = 0;
  bool sizeFixed = false;
  if (std::string fault = ChainFault(waiter, pieces, size, found, &signalFrom, &sizeFixed); !fault.empty()) {
    return fault;
  }
  // Where the card's entries disagree, the photo's records must name the
  // entry the camera wrote last.
  if (!sizeFixed) return "the card's directory does not give its size for the photo its records name";
  return ForeignLowBitsFault(signalFrom, size, [&](std::int64_t at) {
    for (const CardPiece& piece : pieces) {
      if (at < piece.to - piece.from) return piece.from + at;
      at -= piece.to - piece.from;
    }
    return std::int64_t{-1};
  });
}

}  // namespace mendrake
