#include "recovery/PieceJoin.h"

#include "recovery/CrwStructureCheck.h"
#include "recovery/FileSignatures.h"
#include "recovery/RecoveryLimits.h"

#include <algorithm>
#include <cstring>

namespace mendrake {
namespace {

// The card bytes a second piece may span, and the directory bytes an end
// needs before it: what is kept of the card while a piece waits.
constexpr std::int64_t kKeptBytes = RecoveryLimits::kMaxCrwSize + EndScanLimits::kMaxDirectoryBytes;

}  // namespace

std::vector<std::int64_t> PieceJoiner::SplitsOf(const FirstPiece& piece) const {
  std::vector<std::int64_t> splits;
  const auto size = static_cast<std::int64_t>(piece.bytes.size());
  for (std::int64_t at = grid_.NextClusterStart(piece.start);
       at < piece.start + size && splits.size() + 1 < JoinLimits::kMaxSplits; at = grid_.NextClusterStart(at)) {
    const std::int64_t offset = at - piece.start;
    if (CameraFileBeginsAt(piece.bytes.data() + offset, size - offset)) splits.push_back(offset);
  }
  splits.push_back(size);
  return splits;
}

const std::vector<std::int64_t>& PieceJoiner::Splits(Waiter& waiter) const {
  if (waiter.splitsGrid.clusterSize != grid_.clusterSize || waiter.splitsGrid.dataStart != grid_.dataStart) {
    waiter.splits = SplitsOf(waiter.piece);
    waiter.splitsGrid = grid_;
  }
  return waiter.splits;
}

void PieceJoiner::Wait(FirstPiece piece) {
  const auto size = static_cast<std::int64_t>(piece.bytes.size());
  if (size > JoinLimits::kMaxWaitingBytes) {
    sink_.Unjoined(piece, piece.whyDamaged);
    return;
  }
  while (!waiting_.empty() && (waitingBytes_ + size > JoinLimits::kMaxWaitingBytes ||
                               waiting_.size() >= JoinLimits::kMaxWaitingPieces)) {
    Settle(0, Unjoined(waiting_[0], "too many pieces waited for a second piece to keep it waiting"));
  }
  if (waiting_.empty()) scannedTo_ = piece.start + size;
  std::vector<std::int64_t> splits = SplitsOf(piece);
  waitingBytes_ += size;
  waiting_.push_back({std::move(piece), std::move(splits), grid_, {}});
  // Its second piece may lie within its own bytes, behind another file.
  const Waiter& waiter = waiting_.back();
  std::vector<RootEnd> ends;
  FindRootEnds(waiter.piece.bytes.data(), size, waiter.splits.front(), size, waiter.piece.start,
               RecoveryLimits::kMaxCrwSize, ends);
  for (const RootEnd& end : ends) TryEnd(end);
}

PieceJoiner::PieceJoiner(PieceSink& sink, FileImage& scratch, WorkBudget& budget)
    : sink_(sink), budget_(budget), recent_(kKeptBytes), scratch_(scratch) {}

// An end found from here on has its heap within a file's length behind it,
// and a second piece starts no further back than that: headers before this
// can own none of them.
void PieceJoiner::ForgetOwnEndsBefore(std::int64_t position) {
  ownEnds_.erase(ownEnds_.begin(), ownEnds_.lower_bound(position));
}

void PieceJoiner::Feed(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  fedTo_ = start + length;
  ForgetOwnEndsBefore(start - kKeptBytes - RecoveryLimits::kMaxCrwSize);
  if (waiting_.empty()) {
    recent_.Clear();
    return;
  }
  recent_.Add(bytes, start, length);
  ScanEnds(recent_.End() - EndScanLimits::kMaxDirectoryBytes);
  Expire(recent_.End());
}

void PieceJoiner::Finish() {
  ScanEnds(recent_.End());
  while (!waiting_.empty()) Settle(0, Unjoined(waiting_[0], "no end on the card joins it"));
  recent_.Clear();
}

void PieceJoiner::ScanEnds(std::int64_t to) {
  const std::int64_t from = std::max(scannedTo_, recent_.Start());
  if (to <= from) return;
  std::vector<RootEnd> ends;
  recent_.Visit(from, to, EndScanLimits::kMaxDirectoryBytes,
                [&](const std::uint8_t* bytes, std::int64_t length, std::int64_t base, std::int64_t first,
                    std::int64_t last) {
                  FindRootEnds(bytes, length, first - base, last - base, base, RecoveryLimits::kMaxCrwSize, ends);
                });
  scannedTo_ = to;
  for (const RootEnd& end : ends) {
    if (waiting_.empty()) break;
    TryEnd(end);
  }
}

// Every waiting piece that the end fits by arithmetic and whose joined bytes
// pass validation is a reading of the end. One reading is a join; two are a
// tie that arithmetic and validation cannot settle (files of one size), and
// both pieces are kept as they are rather than joined by guess.
void PieceJoiner::TryEnd(const RootEnd& end) {
  if (const auto own = ownEnds_.find(end.heapStart); own != ownEnds_.end()) {
    if (own->second.end < 0) own->second.end = end.end;
    if (own->second.end >= end.end) return;  // the end of a file in one piece
  }
  const std::int64_t maxGap = JoinLimits::MaxGap(grid_.clusterSize);
  std::vector<Reading> readings;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    Waiter& waiter = waiting_[i];
    if (waiter.piece.bigEndian != end.bigEndian) continue;
    const std::int64_t size = end.FileSize(waiter.piece.headerLength);
    const std::int64_t gap = end.end - size - waiter.piece.start;
    if (size > RecoveryLimits::kMaxCrwSize || gap <= 0 || gap > maxGap || gap % grid_.clusterSize != 0) continue;
    for (const std::int64_t split : Splits(waiter)) {
      if (split >= size) break;
      const std::string fault = Assemble(waiter, split, end);
      if (fault.empty()) {
        readings.push_back({i, split});
        break;
      }
      waiting_[i].rejected = "the end at " + std::to_string(end.end) + " fits it, but the joined file fails its check: " + fault;
    }
  }
  if (readings.empty()) return;
  if (readings.size() == 1) {
    const Waiter& waiter = waiting_[readings[0].waiter];
    // The reading last assembled may be another; assembled again, it may
    // only fail for want of budget, and then the piece waits on.
    if (!Assemble(waiter, readings[0].split, end).empty()) return;
    const std::int64_t gap = end.end - joinedEnd_.trueSize - waiter.piece.start;
    const std::int64_t start = waiter.piece.start;
    joinedPieces_.push_back({start, start + readings[0].split, start});
    joinedPieces_.push_back({start + readings[0].split + gap, end.end, start});
    sink_.Joined(waiter.piece.start, joined_, joinedEnd_, gap / grid_.clusterSize);
    waitingBytes_ -= static_cast<std::int64_t>(waiter.piece.bytes.size());
    waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(readings[0].waiter));
    return;
  }
  std::string headers;
  for (const Reading& reading : readings) {
    headers += (headers.empty() ? "" : " and ") + std::to_string(waiting_[reading.waiter].piece.start);
  }
  const std::string tie = "the end at " + std::to_string(end.end) + " fits the headers at " + headers +
                          " equally, so neither is joined by guess";
  for (std::size_t n = readings.size(); n-- > 0;) {
    Settle(readings[n].waiter, waiting_[readings[n].waiter].piece.whyDamaged + "; " + tie);
  }
}

// Puts the first split bytes of the piece and the card bytes up to the end
// together into joined_ and validates them: the size search's success rule
// holds at the end, and the structure checks pass. Returns why they are not
// the file, or an empty string when they are.
std::string PieceJoiner::Assemble(const Waiter& waiter, std::int64_t split, const RootEnd& end) {
  const std::int64_t size = end.FileSize(waiter.piece.headerLength);
  // Its room grows with the largest file joined, not to the largest a file may be.
  joined_.SetSize(0);
  joined_.Append(waiter.piece.bytes.data(), split);
  // Paid from the card's budget: a crafted card whose ends fit every piece
  // waiting would otherwise copy and walk a file for each.
  const std::int64_t copied = budget_.EntriesForCopy(size);
  const std::int64_t left = budget_.Left(fedTo_);
  if (left <= copied) return "no work of the card's budget was left to try it";
  if (!CopyCard(waiter, end.end - (size - split), end.end)) return "its second piece is no longer held";
  joinedEnd_ = FindCrwEnd(joined_, scratch_, std::min(left - copied, RecoveryLimits::kMaxEntriesPerWindow));
  budget_.Spend(copied + joinedEnd_.entriesVisited);
  if (!joinedEnd_.isCrw || joinedEnd_.trueSize != size) {
    return "the size search finds no true end at " + std::to_string(size) + " bytes";
  }
  const std::int64_t secondPiece = end.end - (size - split);
  if (const std::int64_t other = FileFoundWithin(secondPiece, end.end); other >= 0) {
    return "its second piece would overlap the file at " + std::to_string(other);
  }
  // A second piece is one run of this file's clusters: where another file
  // begins inside it, the file had more pieces (or the end is another's).
  // Raw data has no check of its own, so this is what tells them apart.
  for (std::int64_t at = split; at < size; at += grid_.clusterSize) {
    if (at != joinedEnd_.thumbnailStart && CameraFileBeginsAt(joined_.Data() + at, size - at)) {
      return "another file begins inside its second piece, at " + std::to_string(end.end - size + at);
    }
  }
  return CrwStructureFault(joined_.Data(), size, waiter.piece.bigEndian, waiter.piece.headerLength,
                           joinedEnd_.thumbnailStart, joinedEnd_.thumbnailSize, true);
}

std::int64_t PieceJoiner::FileFoundWithin(std::int64_t from, std::int64_t to) const {
  for (auto it = ownEnds_.lower_bound(from - RecoveryLimits::kMaxCrwSize); it != ownEnds_.end() && it->first < to; ++it) {
    if (it->second.end > from && it->second.header < to) return it->second.header;
  }
  for (const JoinedPiece& piece : joinedPieces_) {
    if (piece.to > from && piece.from < to) return piece.file;
  }
  return -1;
}

// The reason a piece stays damaged: how its window closed, why no end joined it.
std::string PieceJoiner::Unjoined(const Waiter& waiter, const std::string& why) const {
  return waiter.piece.whyDamaged + "; " + (waiter.rejected.empty() ? why : waiter.rejected);
}

// Appends the card bytes [from, to) to joined_, from the piece's own bytes or
// from what is kept of the card; false when they are no longer kept.
bool PieceJoiner::CopyCard(const Waiter& waiter, std::int64_t from, std::int64_t to) {
  const std::int64_t pieceEnd = waiter.piece.start + static_cast<std::int64_t>(waiter.piece.bytes.size());
  if (from < pieceEnd) {
    const std::int64_t until = std::min(to, pieceEnd);
    joined_.Append(waiter.piece.bytes.data() + (from - waiter.piece.start), until - from);
    from = until;
  }
  return from == to || recent_.CopyTo(from, to, joined_);
}

void PieceJoiner::Settle(std::size_t waiter, const std::string& reason) {
  const FirstPiece piece = std::move(waiting_[waiter].piece);
  waitingBytes_ -= static_cast<std::int64_t>(piece.bytes.size());
  waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(waiter));
  sink_.Unjoined(piece, reason);
}

// A piece whose end can no longer come: its file and the largest gap lie behind.
void PieceJoiner::Expire(std::int64_t now) {
  const std::int64_t reach = RecoveryLimits::kMaxCrwSize + JoinLimits::MaxGap(grid_.clusterSize) +
                             EndScanLimits::kMaxDirectoryBytes;
  for (std::size_t i = waiting_.size(); i-- > 0;) {
    if (now > waiting_[i].piece.start + reach) {
      Settle(i, Unjoined(waiting_[i], "no end within " +
                                          std::to_string(JoinLimits::MaxGap(grid_.clusterSize) / grid_.clusterSize) +
                                          " clusters after it joins it"));
    }
  }
}

}  // namespace mendrake
