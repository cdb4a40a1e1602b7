// Photos whose seams in the low bits fix each other's sides.
#include "recovery/PieceJoin.h"

#include "recovery/RecoveryLimits.h"

#include <algorithm>
#include <utility>

namespace mendrake {

// A camera fills the holes that deletions leave, each from its first
// cluster. Where it filled them one after another, the cluster before a
// photo's second piece is often the last of another photo's first piece,
// still waiting, whose own second piece begins right after a third photo's
// first piece, and so on. No seam of such a run is fixed alone, for the low
// bits show none; the run is, where its first photo's first piece ends at a
// next file's header and its last photo's second piece begins right after
// a file found on the card. Each photo then passes every check a join of
// two pieces passes, with the photo beside it in the run as the file on
// that side, and the card's directory giving its size.

void PieceJoiner::NoteFittedEnd(const RootEnd& end) {
  if (!directories_) return;
  for (Waiter& waiter : waiting_) {
    const std::optional<std::int64_t> size = FittedSize(waiter.piece, end);
    if (!size || waiter.fitted.size() >= JoinLimits::kMaxFittedEnds ||
        std::any_of(waiter.fitted.begin(), waiter.fitted.end(),
                    [&](const RootEnd& fitted) { return fitted.end == end.end; }) ||
        !directories_->Weigh(waiter.piece.start, *size, nullptr).mayFixSize) {
      continue;
    }
    waiter.fitted.push_back(end);
    fittedChanged_ = true;
  }
}

// Each waiting piece with an end the directory fits, cut where its first
// side is fixed, starts a run. The one run from a piece that is found whole
// and passes is joined; two are a tie, and neither is.
void PieceJoiner::TrySeamChains() {
  while (std::exchange(fittedChanged_, false)) {
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
      const Waiter& waiter = waiting_[i];
      std::optional<std::vector<JoinReading>> only;
      bool tie = false;
      for (const RootEnd& end : waiter.fitted) {
        for (const std::int64_t split : waiter.splits) {
          if (split >= end.FileSize(waiter.piece.headerLength)) break;
          if (split == static_cast<std::int64_t>(waiter.piece.bytes.size()) && !waiter.piece.closedByHeader) continue;
          std::optional<std::vector<JoinReading>> chain = SeamChainFrom(i, end, split);
          if (!chain) continue;
          tie = tie || only.has_value();
          only = std::move(chain);
        }
      }
      if (!only || tie) continue;
      JoinSeamChain(std::move(*only));
      fittedChanged_ = true;  // what the run joined may fix another's side
      break;
    }
  }
}

JoinReading PieceJoiner::ReadingAt(std::size_t waiter, const RootEnd& end, std::int64_t split) const {
  JoinReading reading;
  reading.waiter = waiter;
  reading.header = waiting_[waiter].piece.start;
  reading.split = split;
  reading.size = end.FileSize(waiting_[waiter].piece.headerLength);
  reading.secondFrom = end.end - (reading.size - split);
  reading.secondTo = end.end;
  return reading;
}

// The run from the reading of end cut at split: found by where its pieces
// lie, then weighed photo by photo; none unless every one passes.
std::optional<std::vector<JoinReading>> PieceJoiner::SeamChainFrom(std::size_t waiter, const RootEnd& end,
                                                                   std::int64_t split) {
  std::vector<JoinReading> chain{ReadingAt(waiter, end, split)};
  chain.front().splitAtHeader = true;
  while (!WholeFileEndsBefore(chain.back().secondFrom)) {
    if (chain.size() >= JoinLimits::kMaxSeamChainFiles) return std::nullopt;
    std::optional<JoinReading> next = NextInSeamChain(chain.back().secondFrom, chain);
    if (!next) return std::nullopt;
    chain.back().secondSideByChain = true;
    chain.push_back(*next);
  }
  if (chain.size() < 2) return std::nullopt;  // the reading of two pieces alone weighed it
  const auto apart = [](std::int64_t from1, std::int64_t to1, std::int64_t from2, std::int64_t to2) {
    return to1 <= from2 || to2 <= from1;
  };
  for (std::size_t a = 0; a < chain.size(); ++a) {
    for (std::size_t b = a + 1; b < chain.size(); ++b) {
      const JoinReading &x = chain[a], &y = chain[b];
      if (!apart(x.header, x.header + x.split, y.secondFrom, y.secondTo) ||
          !apart(x.secondFrom, x.secondTo, y.header, y.header + y.split) ||
          !apart(x.secondFrom, x.secondTo, y.secondFrom, y.secondTo)) {
        return std::nullopt;
      }
    }
  }
  for (JoinReading& reading : chain) {
    Weigh(reading);
    if (reading.weight != JoinReading::Weight::kPasses) return std::nullopt;
  }
  return chain;
}

// The photo whose first piece ends right before position, with the one end
// among those fitted to it that puts its seam there; none where that piece
// has no such end, or more than one.
std::optional<JoinReading> PieceJoiner::NextInSeamChain(std::int64_t position, const std::vector<JoinReading>& chain) {
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const FirstPiece& piece = waiting_[i].piece;
    const std::int64_t split = position - piece.start;
    if (split <= 0 || split > static_cast<std::int64_t>(piece.bytes.size())) continue;
    if (std::any_of(chain.begin(), chain.end(), [&](const JoinReading& in) { return in.waiter == i; })) {
      return std::nullopt;
    }
    std::optional<JoinReading> found;
    for (const RootEnd& end : waiting_[i].fitted) {
      JoinReading reading = ReadingAt(i, end, split);
      if (split >= reading.size || reading.Gap() <= 0) continue;
      if (found) return std::nullopt;
      reading.firstSideByChain = true;
      found = reading;
    }
    return found;
  }
  return std::nullopt;
}

// Joined from the last waiting piece back, so that taking one out moves no
// other; the ends that waited for them are weighed once all are in.
void PieceJoiner::JoinSeamChain(std::vector<JoinReading> chain) {
  std::sort(chain.begin(), chain.end(), [](const JoinReading& a, const JoinReading& b) { return a.waiter > b.waiter; });
  const bool weighing = std::exchange(weighingAwaited_, true);
  for (const JoinReading& reading : chain) Join(reading);
  weighingAwaited_ = weighing;
  WeighAwaitedEnds();
}

}  // namespace mendrake
