// Photos whose seams in the low bits fix each other's sides.
#include "recovery/PieceJoin.h"

#include "recovery/RecoveryLimits.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace mendrake {
namespace {

// Where a reading of two pieces puts them on the card.
std::vector<CardPiece> PiecesOf(const JoinReading& reading) {
  return {{reading.header, reading.header + reading.split}, {reading.secondFrom, reading.secondTo}};
}

}  // namespace

// A camera fills the holes that deletions leave, each from its first
// cluster. Where it filled them one after another, the cluster before a
// photo's second piece is often the last of another photo's first piece,
// still waiting, whose own second piece begins right after a third photo's
// first piece, and so on. No seam of such a run is fixed alone, for the low
// bits show none; the run is, where its first photo's first piece ends at a
// next file's header and its last photo's second piece begins right after
// a file found on the card. Each photo then passes every check a join of
// two pieces passes, with the photo beside it in the run as the file on
// that side, and the card's directory giving its size. A photo in three
// pieces whose other seam the files around fix may open or close a run.

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
// side is fixed, starts a run; a photo in three or four pieces whose every
// side the files around fix is a run of its own. Every run that passes is
// found before any is joined: one that shares a photo with another is a
// tie, and neither is joined. A run whose photos may have swapped clusters
// unseen is not joined even alone, but still ties.
void PieceJoiner::TrySeamRuns() {
  const auto reject = [&](const SeamRun& run, const std::string& why) {
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
      if (run.Holds(i)) waiting_[i].chainRejected = why;
    }
  };
  while (std::exchange(fittedChanged_, false)) {
    std::vector<SeamRun> runs = PassingRuns();
    for (std::size_t r = 0; r < runs.size(); ++r) {
      const auto rival = [&](const SeamRun& other) {
        if (&other == &runs[r] || other.Pieces() == runs[r].Pieces()) return false;
        for (std::size_t i = 0; i < waiting_.size(); ++i) {
          if (other.Holds(i) && runs[r].Holds(i)) return true;
        }
        return false;
      };
      if (const auto other = std::find_if(runs.begin(), runs.end(), rival); other != runs.end()) {
        const std::string tie = "read with the photos beside its seams, two readings pass (" + RunText(runs[r]) +
                                "; and " + RunText(*other) + "), and neither is joined";
        reject(runs[r], tie);
        continue;
      }
      if (!runs[r].unseenSwap.empty()) {
        reject(runs[r], runs[r].unseenSwap);
        continue;
      }
      JoinSeamRun(std::move(runs[r]));
      fittedChanged_ = true;  // what the run joined may fix another's side
      break;
    }
  }
}

// "the photo at 1,048,576 in clusters 2-9, 40-52": where the run puts each photo's pieces.
std::string PieceJoiner::RunText(const SeamRun& run) const {
  std::string text;
  const auto photo = [&](std::int64_t start, const std::vector<CardPiece>& pieces) {
    text += (text.empty() ? "the photo at " : ", the photo at ") + GroupedDigits(start) + " in clusters ";
    for (std::size_t n = 0; n < pieces.size(); ++n) {
      text += (n == 0 ? "" : ", ") + std::to_string(grid_.Number(pieces[n].from)) + "-" +
              std::to_string(grid_.Number(pieces[n].to - 1));
    }
  };
  for (const JoinReading& reading : run.twos) photo(reading.header, PiecesOf(reading));
  for (const FoundChain& found : run.threes) photo(found.chain.pieces.front().from, found.chain.pieces);
  return text;
}

std::vector<PieceJoiner::SeamRun> PieceJoiner::PassingRuns() {
  std::vector<SeamRun> runs;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const Waiter& waiter = waiting_[i];
    for (const RootEnd& end : waiter.fitted) {
      for (const std::int64_t split : waiter.splits) {
        if (split >= end.FileSize(waiter.piece.headerLength)) break;
        if (split == static_cast<std::int64_t>(waiter.piece.bytes.size()) && !waiter.piece.closedByHeader) continue;
        // A split that no next file fixes (where the piece's decode broke)
        // opens a photo in three or four pieces only where its seam lies in
        // the stream, where the decode of the whole placing sees it.
        const bool fixed = SplitFixed(waiter, split);
        const auto take = [&](std::optional<SeamRun> run) {
          if (!run) return;
          const bool seen =
              !run->threes.empty() && split >= run->threes.front().streamStart + JoinLimits::kStreamBytesThatBreak;
          if (fixed || seen) runs.push_back(std::move(*run));
        };
        if (fixed) {
          SeamRun run;
          run.twos.push_back(ReadingAt(i, end, split));
          run.twos.front().splitAtHeader = true;
          take(SeamRunFrom(std::move(run), 0));
        }
        // In three or four pieces, weighed once the run is whole.
        const auto opening = [&](const std::vector<CardPiece>& pieces) {
          SeamRun run;
          run.threes.push_back({i, PieceChain{}, CrwEnd{}});
          run.threes.front().chain.pieces = pieces;
          run.headEnd = end;
          return run;
        };
        // In three pieces, one seam fixed by the files around it, and the
        // start of the piece after the other by the run; or every side by
        // the files around.
        const auto inThree = [&](const std::vector<CardPiece>& pieces, std::int64_t runFrom) {
          take(AfterFileEnd(runFrom) ? WeighedRun(opening(pieces)) : SeamRunFrom(opening(pieces), runFrom));
        };
        for (const std::vector<CardPiece>& pieces : PlacingsOfThree(waiter, end, split)) {
          inThree(pieces, pieces[1].from);
        }
        for (const std::vector<CardPiece>& pieces : PlacingsWithFixedMiddle(waiter, end, split)) {
          inThree(pieces, pieces[2].from);
        }
        for (const std::vector<CardPiece>& pieces : PlacingsOfFour(waiter, end, split)) {
          take(WeighedRun(opening(pieces)));
        }
      }
    }
  }
  return runs;
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

// Whether a photo of the run is that waiting piece's.
bool PieceJoiner::SeamRun::Holds(std::size_t waiter) const {
  return std::any_of(twos.begin(), twos.end(), [&](const JoinReading& in) { return in.waiter == waiter; }) ||
         std::any_of(threes.begin(), threes.end(), [&](const FoundChain& in) { return in.waiter == waiter; });
}

std::vector<CardPiece> PieceJoiner::SeamRun::Pieces() const {
  std::vector<CardPiece> pieces;
  for (const JoinReading& reading : twos) {
    const std::vector<CardPiece> two = PiecesOf(reading);
    pieces.insert(pieces.end(), two.begin(), two.end());
  }
  for (const FoundChain& found : threes) {
    pieces.insert(pieces.end(), found.chain.pieces.begin(), found.chain.pieces.end());
  }
  return pieces;
}

// The run found from its first photo by where its pieces lie, then weighed
// photo by photo; none unless every one passes, or where two runs do.
// position is where the last photo's piece that the run fixes begins (of a
// photo in two pieces, its second).
std::optional<PieceJoiner::SeamRun> PieceJoiner::SeamRunFrom(SeamRun run, std::int64_t position) {
  if (!run.twos.empty() && run.threes.empty()) position = run.twos.back().secondFrom;
  return RunOnFrom(std::move(run), position, 1);
}

std::optional<PieceJoiner::SeamRun> PieceJoiner::RunOnFrom(SeamRun run, std::int64_t position, std::size_t photos) {
  if (WholeFileEndsBefore(position)) return photos < 2 ? std::nullopt : WeighedRun(std::move(run));
  if (photos >= JoinLimits::kMaxSeamRunFiles) return std::nullopt;
  const bool open = !run.twos.empty() && run.twos.back().secondFrom == position;
  std::optional<SeamRun> onward, closed;
  if (std::optional<JoinReading> next = NextInSeamRun(position, run)) {
    SeamRun longer = run;
    if (open) longer.twos.back().secondSideByChain = true;
    longer.twos.push_back(*next);
    onward = RunOnFrom(std::move(longer), next->secondFrom, photos + 1);
  }
  // A photo in three pieces may close the run, its later seam fixed by the
  // files around it.
  if (std::optional<FoundChain> last = ThreePiecesAfterRun(position, run)) {
    if (open) run.twos.back().secondSideByChain = true;
    run.threes.push_back(std::move(*last));
    closed = WeighedRun(std::move(run));
  }
  if (onward && closed) return std::nullopt;
  return onward ? std::move(onward) : std::move(closed);
}

// The run whole: its pieces apart, and each photo passing.
std::optional<PieceJoiner::SeamRun> PieceJoiner::WeighedRun(SeamRun run) {
  const std::vector<CardPiece> pieces = run.Pieces();
  for (std::size_t a = 0; a < pieces.size(); ++a) {
    for (std::size_t b = a + 1; b < pieces.size(); ++b) {
      if (pieces[a].to > pieces[b].from && pieces[b].to > pieces[a].from) return std::nullopt;
    }
  }
  runWeighed_.clear();
  for (const JoinReading& reading : run.twos) runWeighed_.push_back(reading.header);
  for (const FoundChain& found : run.threes) runWeighed_.push_back(waiting_[found.waiter].piece.start);
  bool passes = true;
  for (JoinReading& reading : run.twos) {
    WeighLink(reading);
    if (reading.weight != JoinReading::Weight::kPasses) {
      passes = false;
      break;
    }
  }
  runWeighed_.clear();
  if (!passes) return std::nullopt;
  // A first photo in three pieces is weighed once its run is whole.
  if (run.headEnd) {
    FoundChain& head = run.threes.front();
    std::optional<FoundChain> weighed = WeighPlacing(head.waiter, *run.headEnd, head.chain.pieces);
    if (!weighed) return std::nullopt;
    head = std::move(*weighed);
  }
  run.unseenSwap = SwapsUnseen(run);
  return run;
}

// Where a piece of one photo of the run ends right where a later piece of
// another begins, both in their low bits, the two may have been written
// the other way: the first piece a cluster shorter and that cluster the
// other photo's, the other's first cluster there this photo's. The sizes
// are the same, and the low bits show none of it; the decode does only
// where either cluster holds enough of its photo's stream. Why such a run
// is not joined, for its photos' lines; empty where none is so.
std::string PieceJoiner::SwapsUnseen(const SeamRun& run) const {
  struct Photo {
    std::size_t waiter;
    std::vector<CardPiece> pieces;
    std::int64_t streamStart;
  };
  std::vector<Photo> photos;
  // Past the raw data the decode sees no seam either.
  for (const JoinReading& reading : run.twos) {
    photos.push_back({reading.waiter, PiecesOf(reading), reading.seamPastRawData ? reading.size : reading.streamStart});
  }
  for (const FoundChain& found : run.threes) photos.push_back({found.waiter, found.chain.pieces, found.streamStart});
  const std::int64_t cluster = grid_.clusterSize;
  // The file offset where the photo's piece of that index begins.
  const auto offsetOf = [](const Photo& photo, std::size_t index) {
    std::int64_t offset = 0;
    for (std::size_t n = 0; n < index; ++n) offset += photo.pieces[n].to - photo.pieces[n].from;
    return offset;
  };
  for (const Photo& giver : photos) {
    for (std::size_t g = 0; g + 1 < giver.pieces.size(); ++g) {
      const CardPiece& ends = giver.pieces[g];
      // Its first cluster holds its header.
      if (g == 0 && ends.to - ends.from < 2 * cluster) continue;
      if (offsetOf(giver, g + 1) >= giver.streamStart + JoinLimits::kStreamBytesThatBreak) continue;
      for (const Photo& taker : photos) {
        if (taker.waiter == giver.waiter) continue;
        for (std::size_t t = 1; t < taker.pieces.size(); ++t) {
          const CardPiece& begins = taker.pieces[t];
          // Its last cluster holds its end.
          if (begins.from != ends.to || (t + 1 == taker.pieces.size() && begins.to - begins.from < 2 * cluster) ||
              offsetOf(taker, t) + cluster >= taker.streamStart + JoinLimits::kStreamBytesThatBreak) {
            continue;
          }
          return "read with the photos beside its seams, the cluster before " + GroupedDigits(ends.to) +
                 " and the one at it may be each other's, the photo at " +
                 GroupedDigits(waiting_[giver.waiter].piece.start) + " and the photo at " +
                 GroupedDigits(waiting_[taker.waiter].piece.start) +
                 " each in more pieces, which their low bits do not show";
        }
      }
    }
  }
  return {};
}

PieceJoiner::LinkEvidence PieceJoiner::EvidenceOfLink(const JoinReading& reading) {
  return {FileFoundWithin(reading.secondFrom, reading.secondTo), FileEndsBefore(reading.secondFrom),
          WholeFileEndsBefore(reading.secondFrom), endStreamStart_, PieceCutByHeaderAt(reading.header)};
}

void PieceJoiner::WeighLink(JoinReading& reading) {
  const LinkKey key{reading.header,         reading.split, reading.secondFrom, reading.size, reading.firstSideByChain,
                    reading.secondSideByChain};
  const LinkEvidence evidence = EvidenceOfLink(reading);
  if (const auto known = weighedLinks_.find(key); known != weighedLinks_.end() && known->second.evidence == evidence) {
    const std::size_t waiter = reading.waiter;  // pieces taken out move the others
    reading = known->second.reading;
    reading.waiter = waiter;
    return;
  }
  Weigh(reading);
  if (reading.weight == JoinReading::Weight::kUnweighed) return;
  if (weighedLinks_.size() >= JoinLimits::kMaxWeighedLinks) weighedLinks_.clear();
  weighedLinks_[key] = {reading, evidence};
}

// The photo whose first piece ends right before position, with the one end
// among those fitted to it that puts its seam there; none where that piece
// has no such end, or more than one.
std::optional<JoinReading> PieceJoiner::NextInSeamRun(std::int64_t position, const SeamRun& run) {
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const FirstPiece& piece = waiting_[i].piece;
    const std::int64_t split = position - piece.start;
    if (split <= 0 || split > static_cast<std::int64_t>(piece.bytes.size())) continue;
    if (run.Holds(i)) return std::nullopt;
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

// The photo in three pieces that closes the run at position, weighed: its
// first piece ends right before position and the files around fix its
// later sides, or its middle piece ends there and they fix the rest. The
// one placing that passes, of all photos and their fitted ends, or none.
std::optional<PieceJoiner::FoundChain> PieceJoiner::ThreePiecesAfterRun(std::int64_t position, const SeamRun& run) {
  std::optional<FoundChain> found;
  bool tie = false;
  const auto weigh = [&](std::size_t i, const RootEnd& end, const std::vector<CardPiece>& pieces) {
    if (tie || !AfterFileEnd(pieces[1].from)) return;
    std::optional<FoundChain> passed = WeighPlacing(i, end, pieces);
    if (!passed) return;
    tie = found.has_value();
    found = std::move(passed);
  };
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const Waiter& waiter = waiting_[i];
    if (run.Holds(i)) continue;
    const std::int64_t cut = position - waiter.piece.start;
    for (const RootEnd& end : waiter.fitted) {
      if (cut > 0 && cut <= static_cast<std::int64_t>(waiter.piece.bytes.size())) {
        for (const std::vector<CardPiece>& pieces : PlacingsOfThree(waiter, end, cut)) weigh(i, end, pieces);
      }
      for (const std::int64_t split : waiter.splits) {
        for (const std::vector<CardPiece>& pieces : PlacingsOfThree(waiter, end, split, position)) {
          weigh(i, end, pieces);
        }
      }
    }
  }
  return tie ? std::nullopt : found;
}

// Joined from the last waiting piece back, so that taking one out moves no
// other; the ends that waited for them are weighed once all are in.
void PieceJoiner::JoinSeamRun(SeamRun run) {
  std::vector<std::pair<std::size_t, std::size_t>> order;  // waiter, photo of the run
  for (std::size_t n = 0; n < run.twos.size(); ++n) order.emplace_back(run.twos[n].waiter, n);
  for (std::size_t n = 0; n < run.threes.size(); ++n) order.emplace_back(run.threes[n].waiter, run.twos.size() + n);
  std::sort(order.begin(), order.end(), std::greater<>());
  const bool weighing = std::exchange(weighingAwaited_, true);
  for (const auto& [waiter, photo] : order) {
    if (photo < run.twos.size()) {
      Join(run.twos[photo]);
    } else {
      JoinChain(run.threes[photo - run.twos.size()], true);
    }
  }
  weighingAwaited_ = weighing;
  WeighAwaitedEnds();
}

}  // namespace mendrake
