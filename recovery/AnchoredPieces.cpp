// A photo in three or four pieces whose seams lie where its decode sees none.
#include "recovery/PieceJoin.h"

#include "output/JpegExtent.h"
#include "recovery/FileEndMarks.h"
#include "recovery/RawDataCheck.h"
#include "recovery/RecoveryLimits.h"
#include "recovery/ThmFile.h"

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
// it, exactly one placing of that length may pass every check. A photo that
// took three holes has two middle pieces, each from a file's end to the next
// file's start, whose lengths the size gives together.

void PieceJoiner::NoteFileExtent(std::int64_t from, std::int64_t to) {
  if (extents_.size() < JoinLimits::kMaxFileExtents) extents_[from] = to;
}

// Compressed picture and raw data escape every FF byte, so a JPEG's
// start-of-image marker and the marker after it at a cluster start begin a
// file: a THM, or a camera's JPG, which no other scan keeps.
void PieceJoiner::NoteJpegStarts(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  if (grid_.clusterSize <= 0) return;
  for (std::int64_t at = grid_.NextClusterStart(start - 1); at + 3 <= start + length; at += grid_.clusterSize) {
    const std::uint8_t* p = bytes + (at - start);
    if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && jpegs_.size() < JoinLimits::kMaxJpegStarts) {
      jpegs_.emplace(at, JpegNote{});
    }
  }
}

// Where the JPEG that begins at start ends, read from what is kept of the
// card; -1 where that is not known. Each is read once where it ends within
// what is kept, and again only as more of the card comes after it.
std::int64_t PieceJoiner::JpegEnd(std::int64_t start) const {
  const auto jpeg = jpegs_.find(start);
  if (jpeg == jpegs_.end()) return -1;
  JpegNote& note = jpeg->second;
  if (note.end != 0) return note.end;
  if (start < recent_.Start()) return note.end = -1;  // its bytes are no longer kept
  constexpr std::int64_t kThmBytes = std::int64_t{64} << 10, kMoreBytes = std::int64_t{1} << 20;
  const std::int64_t to = std::min(start + JoinLimits::kMaxJpegBytes, recent_.End());
  if (note.readTo != 0 && to < std::min(note.readTo + kMoreBytes, start + JoinLimits::kMaxJpegBytes)) return -1;
  // A THM's few KB first, a JPG's MB only where it runs on.
  for (const std::int64_t upTo : {std::min(to, start + kThmBytes), to}) {
    FileImage bytes;
    if (upTo <= start || !CopyKept(start, upTo, bytes)) return -1;
    const std::size_t length = JpegExtent(
        std::span<const std::uint8_t>(bytes.Data(), static_cast<std::size_t>(bytes.Size())),
        static_cast<std::size_t>(bytes.Size()));
    if (length > 0) return note.end = start + static_cast<std::int64_t>(length);
    if (upTo == to) break;
  }
  note.readTo = to;
  if (to - start >= JoinLimits::kMaxJpegBytes) note.end = -1;
  return -1;
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
  const auto thmsFrom = extents_.lower_bound(from - static_cast<std::int64_t>(ThmLimits::kMaxThmSize));
  for (auto thm = thmsFrom; thm != extents_.end() && thm->first < to; ++thm) add(thm->second);
  const auto jpegsFrom = jpegs_.lower_bound(from - JoinLimits::kMaxJpegBytes);
  for (auto jpeg = jpegsFrom; jpeg != jpegs_.end() && jpeg->first < to; ++jpeg) {
    if (const std::int64_t end = JpegEnd(jpeg->first); end > 0) add(end);
  }
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
  for (auto thm = extents_.lower_bound(from); thm != extents_.end() && thm->first < to; ++thm) add(thm->first);
  for (auto jpeg = jpegs_.lower_bound(from); jpeg != jpegs_.end() && jpeg->first < to; ++jpeg) add(jpeg->first);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

// What the placings of the waiting piece cut at split, for end, are sought
// among: later pieces are put together from what is kept of the card, from
// the files found there. None where the split cannot end a first piece.
std::optional<PieceJoiner::PlacingFrame> PieceJoiner::FrameOf(const Waiter& waiter, const RootEnd& end,
                                                              std::int64_t split) const {
  const std::int64_t size = end.FileSize(waiter.piece.headerLength);
  const auto pieceSize = static_cast<std::int64_t>(waiter.piece.bytes.size());
  if (split >= size || split > pieceSize || (split == pieceSize && !waiter.piece.closedByHeader)) return std::nullopt;
  const std::int64_t from = std::max(waiter.piece.start, recent_.Start());
  PlacingFrame frame{size, from, waiter.piece.start + split, ClustersAfterFileEnds(from, end.end),
                     FileStartsWithin(from, end.end), {}};
  for (const std::int64_t at : frame.after) {
    const auto next = std::upper_bound(frame.starts.begin(), frame.starts.end(), at);
    if (at > frame.firstEnd && next != frame.starts.end()) frame.gaps.push_back({at, *next});
  }
  return frame;
}

// The placings of three pieces of the waiting piece cut at split, for end:
// the last piece begins right after a file's end, the middle one ends where
// a file begins and is as long as the size leaves. Where the middle piece
// begins is the arithmetic's alone; the caller says what must fix it. With
// middleEnd, the middle piece ends there, where the caller fixes it.
std::vector<std::vector<CardPiece>> PieceJoiner::PlacingsOfThree(const Waiter& waiter, const RootEnd& end,
                                                                 std::int64_t split,
                                                                 std::optional<std::int64_t> middleEnd) const {
  std::vector<std::vector<CardPiece>> placings;
  const std::optional<PlacingFrame> frame = FrameOf(waiter, end, split);
  if (!frame) return placings;
  const auto& [size, from, firstEnd, after, anyStart, gaps] = *frame;
  const std::vector<std::int64_t> starts = middleEnd ? std::vector{*middleEnd} : anyStart;
  for (const std::int64_t lastFrom : after) {
    const std::int64_t middle = size - split - (end.end - lastFrom);
    if (lastFrom <= firstEnd || middle <= 0 || middle % grid_.clusterSize != 0) continue;
    for (const std::int64_t middleTo : starts) {
      const std::int64_t middleFrom = middleTo - middle;
      if (middleTo > lastFrom) break;
      if (middleFrom <= firstEnd || middleFrom < from) continue;
      if (FileFoundWithin(middleFrom, middleTo) >= 0 || FileFoundWithin(lastFrom, end.end) >= 0) continue;
      if (MiddleHasRival(*frame, {middleFrom, middleTo}, lastFrom)) continue;
      placings.push_back({{waiter.piece.start, firstEnd}, {middleFrom, middleTo}, {lastFrom, end.end}});
    }
  }
  return placings;
}

// A short middle piece that the files around fix on both sides, as long as
// the size leaves, may be another file's few clusters (a THM's, a small
// piece of another photo) while the photo's own middle piece lies where
// only one side is fixed, beside a deleted file's old clusters: that one is
// no candidate, and the placing would pass alone. Another stretch as long,
// between the first piece and the last, that begins right after a file's
// end or ends where a file begins, and holds no file found, no file's start
// and no photo's end, is such a rival.
// Stretches of a few clusters between files lie all over a card used for
// months; one bounded by files at exactly a longer length rarely does by
// chance, and old clusters a longer stretch long lie beside most files.
bool PieceJoiner::MiddleHasRival(const PlacingFrame& frame, const CardPiece& middle, std::int64_t lastFrom) const {
  const std::int64_t length = middle.to - middle.from;
  if (length > JoinLimits::kMaxShortMiddleClusters * grid_.clusterSize) return false;
  const auto rival = [&](std::int64_t from) {
    const auto start = std::lower_bound(frame.starts.begin(), frame.starts.end(), from);
    const auto photoEnd = cameraEnds_.upper_bound(from);
    return from != middle.from && from > frame.firstEnd && from >= frame.from && from + length <= lastFrom &&
           (start == frame.starts.end() || *start >= from + length) &&
           (photoEnd == cameraEnds_.end() || *photoEnd > from + length) && FileFoundWithin(from, from + length) < 0;
  };
  return std::any_of(frame.after.begin(), frame.after.end(), rival) ||
         std::any_of(frame.starts.begin(), frame.starts.end(), [&](std::int64_t to) { return rival(to - length); });
}

// Another file ends right before position: one found, a THM or a JPEG
// noted, or a file whose markers, read from its start, end there.
bool PieceJoiner::AfterFileEnd(std::int64_t position) {
  const std::vector<std::int64_t> after = ClustersAfterFileEnds(position, position + 1);
  return !after.empty() || WholeFileEndsBefore(position);
}

// The placing weighed as a file in those pieces, or none where it fails. A
// placing that failed fails again (more files found only add faults), so
// none is decoded twice.
std::optional<PieceJoiner::FoundChain> PieceJoiner::WeighPlacing(std::size_t waiter, const RootEnd& end,
                                                                  const std::vector<CardPiece>& pieces) {
  AnchoredPlacing placing{end.end};
  for (const CardPiece& piece : pieces) placing.insert(placing.end(), {piece.from, piece.to});
  if (failedPlacings_.count(placing) != 0) return std::nullopt;
  CrwEnd crwEnd;
  std::int64_t streamStart = 0;
  if (!PlacingFault(waiting_[waiter], pieces, end.FileSize(waiting_[waiter].piece.headerLength), crwEnd, streamStart)
           .empty()) {
    if (failedPlacings_.size() < JoinLimits::kMaxFailedPlacings) failedPlacings_.insert(placing);
    return std::nullopt;
  }
  PieceChain chain;
  chain.kind = PieceChain::Kind::kFound;
  chain.pieces = pieces;
  return FoundChain{waiter, std::move(chain), crwEnd, streamStart};
}

// The placings of three pieces of the waiting piece cut at split, for end,
// whose middle piece runs from a file's end to the next file's start: where
// the last piece begins is the arithmetic's alone.
std::vector<std::vector<CardPiece>> PieceJoiner::PlacingsWithFixedMiddle(const Waiter& waiter, const RootEnd& end,
                                                                         std::int64_t split) const {
  std::vector<std::vector<CardPiece>> placings;
  const std::optional<PlacingFrame> frame = FrameOf(waiter, end, split);
  if (!frame) return placings;
  for (const CardPiece& middle : frame->gaps) {
    const std::int64_t lastFrom = end.end - (frame->size - split - (middle.to - middle.from));
    if (lastFrom <= middle.to || lastFrom >= end.end || !grid_.IsClusterStart(lastFrom)) continue;
    if (FileFoundWithin(middle.from, middle.to) >= 0 || FileFoundWithin(lastFrom, end.end) >= 0) continue;
    placings.push_back({{waiter.piece.start, frame->firstEnd}, middle, {lastFrom, end.end}});
  }
  return placings;
}

// The placings of four pieces of the waiting piece cut at split, for end:
// the last piece begins right after a file's end, and each middle piece
// runs from a file's end to the next file's start, the two as long together
// as the size leaves.
std::vector<std::vector<CardPiece>> PieceJoiner::PlacingsOfFour(const Waiter& waiter, const RootEnd& end,
                                                                std::int64_t split) const {
  std::vector<std::vector<CardPiece>> placings;
  const std::optional<PlacingFrame> frame = FrameOf(waiter, end, split);
  if (!frame) return placings;
  const auto& [size, from, firstEnd, after, starts, gaps] = *frame;
  for (const std::int64_t lastFrom : after) {
    const std::int64_t middles = size - split - (end.end - lastFrom);
    if (lastFrom <= firstEnd || middles <= 0 || FileFoundWithin(lastFrom, end.end) >= 0) continue;
    for (std::size_t a = 0; a < gaps.size(); ++a) {
      for (std::size_t b = a + 1; b < gaps.size(); ++b) {
        const CardPiece &one = gaps[a], &two = gaps[b];
        if (two.to > lastFrom || one.to > two.from) continue;
        if ((one.to - one.from) + (two.to - two.from) != middles) continue;
        if (FileFoundWithin(one.from, one.to) >= 0 || FileFoundWithin(two.from, two.to) >= 0) continue;
        placings.push_back({{waiter.piece.start, firstEnd}, one, two, {lastFrom, end.end}});
      }
    }
  }
  return placings;
}

// The checks of a file put together from pieces, and what a seam in the
// low bits must pass besides: no root directory ends among them, and no
// cluster of them holds coded data.
std::string PieceJoiner::PlacingFault(const Waiter& waiter, const std::vector<CardPiece>& pieces, std::int64_t size,
                                      CrwEnd& found, std::int64_t& signalFrom) {
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

// A piece joined since the ends fitted to waiting pieces were weighed may
// be the file beside one of their seams: the runs are sought again.
bool PieceJoiner::RetrySeamRuns() {
  if (anchoredTriedAt_ == joinedPieces_.size()) return false;
  anchoredTriedAt_ = joinedPieces_.size();
  const std::size_t joined = joinedPieces_.size();
  fittedChanged_ = true;
  TrySeamRuns();
  return joinedPieces_.size() != joined;
}

}  // namespace mendrake
