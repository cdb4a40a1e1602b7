#include "recovery/PieceJoin.h"

#include "analysis/CrwRecords.h"
#include "output/JpegExtent.h"
#include "recovery/CanonRawLayout.h"
#include "recovery/CrwStructureCheck.h"
#include "recovery/FileEndMarks.h"
#include "recovery/FileSignatures.h"
#include "recovery/JoinDecision.h"
#include "recovery/PieceChain.h"
#include "recovery/RawDataCheck.h"
#include "recovery/RecoveryLimits.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mendrake {
namespace {

// The card bytes a second piece may span, and the directory bytes an end
// needs before it: what is kept of the card while a piece waits.
constexpr std::int64_t kKeptBytes = RecoveryLimits::kMaxCrwSize + EndScanLimits::kMaxDirectoryBytes;

}  // namespace

PieceJoiner::PieceJoiner(PieceSink& sink, FileImage& scratch, WorkBudget& budget)
    : sink_(sink), budget_(budget), recent_(kKeptBytes), scratch_(scratch) {}

std::vector<std::int64_t> PieceJoiner::SplitsOf(const FirstPiece& piece) const {
  std::vector<std::int64_t> splits;
  const auto size = static_cast<std::int64_t>(piece.bytes.size());
  for (std::int64_t at = grid_.NextClusterStart(piece.start);
       at < piece.start + size && splits.size() + 1 < JoinLimits::kMaxSplits; at = grid_.NextClusterStart(at)) {
    const std::int64_t offset = at - piece.start;
    if (CameraFileBeginsAt(piece.bytes.data() + offset, size - offset)) splits.push_back(offset);
  }
  // The card's last bytes after its last whole cluster are no file's.
  const std::int64_t wholeClusters = grid_.NextClusterStart(piece.start + size - grid_.clusterSize) - piece.start;
  splits.push_back(piece.cutByCardEnd && wholeClusters > 0 ? wholeClusters : size);
  return splits;
}

const std::vector<std::int64_t>& PieceJoiner::Splits(Waiter& waiter) const {
  if (waiter.splitsGrid.clusterSize != grid_.clusterSize || waiter.splitsGrid.dataStart != grid_.dataStart) {
    waiter.splits = SplitsOf(waiter.piece);
    waiter.splitsGrid = grid_;
  }
  return waiter.splits;
}

void PieceJoiner::NoteOwnEnd(std::int64_t heapStart, std::int64_t end) {
  ownEnds_[heapStart].end = end;
  fileEnds_.insert(end);
  cameraEnds_.insert(end);
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
  Waiter waiter;
  waiter.piece = std::move(piece);
  waiter.splits = std::move(splits);
  waiter.splitsGrid = grid_;
  waiting_.push_back(std::move(waiter));
  // Its second piece may lie within its own bytes, behind another file.
  const Waiter& waited = waiting_.back();
  std::vector<RootEnd> ends;
  FindRootEnds(waited.piece.bytes.data(), size, waited.splits.front(), size, waited.piece.start,
               RecoveryLimits::kMaxCrwSize, ends);
  holding_ = waited.piece.start;
  for (const RootEnd& end : ends) TryEnd(end);
  holding_ = -1;
  held_ = FirstPiece();
}

// An end found from here on has its heap within a file's length behind it,
// and a second piece starts no further back than that: headers before this
// can own none of them. Those of the card's first kMaxWrapBytes stay known,
// for a piece that goes on there after the card's end.
void PieceJoiner::ForgetOwnEndsBefore(std::int64_t position) {
  const std::int64_t kept = JoinLimits::kMaxWrapBytes;
  if (position <= kept) return;
  ownEnds_.erase(ownEnds_.lower_bound(kept), ownEnds_.lower_bound(position));
  fileEnds_.erase(fileEnds_.lower_bound(kept), fileEnds_.lower_bound(position));
  cameraEnds_.erase(cameraEnds_.lower_bound(kept), cameraEnds_.lower_bound(position));
  extents_.erase(extents_.lower_bound(kept), extents_.lower_bound(position));
  jpegs_.erase(jpegs_.lower_bound(kept), jpegs_.lower_bound(position));
}

void PieceJoiner::Feed(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  fedTo_ = start + length;
  ForgetOwnEndsBefore(start - kKeptBytes - RecoveryLimits::kMaxCrwSize);
  if (waiting_.empty()) {
    recent_.Clear();
    return;
  }
  recent_.Add(bytes, start, length);
  NoteJpegStarts(bytes, start, length);
  ScanEnds(recent_.End() - EndScanLimits::kMaxDirectoryBytes);
  Expire(recent_.End());
}

void PieceJoiner::Finish(const std::function<CardBytes()>& readCardStart) {
  ScanEnds(recent_.End());
  WindowClosed();
  TryWrappedEnds(readCardStart);
  while (!waiting_.empty()) Settle(0, Unjoined(waiting_[0], "no end on the card joins it"));
  recent_.Clear();
  cardStart_ = {};
}

// The ends among the card's first bytes that no file in one piece there
// owns, each weighed again now that a piece cut by the card's end waits:
// ReadingsOf takes its second piece at the card's start. Those bytes are
// read again only then.
void PieceJoiner::TryWrappedEnds(const std::function<CardBytes()>& readCardStart) {
  const auto cut = [](const Waiter& waiter) { return waiter.piece.cutByCardEnd; };
  if (!readCardStart || std::none_of(waiting_.begin(), waiting_.end(), cut)) return;
  cardStart_ = readCardStart();
  if (cardStart_.empty()) return;
  // Sought as if the card began a photo's length further on: a file that
  // wrapped begins, by the arithmetic of its end, before the card does.
  constexpr std::int64_t kLift = RecoveryLimits::kMaxCrwSize;
  std::vector<RootEnd> ends;
  FindRootEnds(cardStart_.data(), CardStartSize(), 0, CardStartSize(), kLift, RecoveryLimits::kMaxCrwSize, ends);
  for (RootEnd end : ends) {
    end.end -= kLift;
    end.heapStart -= kLift;
    if (std::none_of(waiting_.begin(), waiting_.end(), cut)) return;
    if (!EndOfFileInOnePiece(end)) WeighEnd(end);
  }
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
  for (const RootEnd& end : ends) TakeEnd(end);
}

// An end inside the window being gathered may be a copy inside that file
// (its raw data may hold anything): it is weighed once the file's own end is
// known.
void PieceJoiner::TakeEnd(const RootEnd& end) {
  if (openWindow_ >= 0 && end.end > openWindow_ && deferred_.size() < JoinLimits::kMaxDeferredEnds) {
    deferred_.push_back(end);
    return;
  }
  TryEnd(end);
}

void PieceJoiner::WindowClosed() {
  openWindow_ = -1;
  std::vector<RootEnd> ends;
  ends.swap(deferred_);
  for (const RootEnd& end : ends) TryEnd(end);
}

// Every reading of the end is weighed, and then one decision is taken: one
// that passes is a join; two are a tie that nothing on the card settles
// (files of one size, holes of one size), and their pieces are kept as they
// are rather than joined by guess.
void PieceJoiner::TryEnd(const RootEnd& end) {
  if (waiting_.empty()) return;
  // Found once from the window's own bytes and once from the card's.
  if (!fileEnds_.insert(end.end).second) return;
  if (end.listsRawData) cameraEnds_.insert(end.end);
  if (!EndOfFileInOnePiece(end)) WeighEnd(end);
}

// The first end of a header's heap is that header's own file's.
bool PieceJoiner::EndOfFileInOnePiece(const RootEnd& end) {
  const auto own = ownEnds_.find(end.heapStart);
  if (own == ownEnds_.end()) return false;
  if (own->second.end < 0) own->second.end = end.end;
  return own->second.end >= end.end;
}

void PieceJoiner::WeighEnd(const RootEnd& end) {
  NoteFittedEnd(end);
  endStreamStart_.reset();
  ProbeFirstPieces(end);
  std::vector<JoinReading> readings = ReadingsOf(end);
  for (std::size_t i = 0; i < readings.size(); ++i) {
    Weigh(readings[i]);
    const JoinReading& reading = readings[i];
    if (Waiter& waiter = waiting_[reading.waiter];
        reading.weight != JoinReading::Weight::kPasses && reading.depth >= waiter.rejectedDepth) {
      waiter.rejected = "the end at " + std::to_string(end.end) + " fits it, but " +
                        (reading.weight == JoinReading::Weight::kFails ? "the joined file fails its check: "
                                                                        : "the joined file was not weighed: ") +
                        reading.fault;
      waiter.rejectedDepth = reading.depth;
    }
    if (reading.raw == RawDataVerdict::Broken && reading.brokenAt < reading.split) {
      const JoinReading broken = reading;  // readings grows
      AddDecodedSplits(broken, readings);
    }
  }
  const JoinDecision decision = DecideJoin(readings, end.end);
  switch (decision.kind) {
    case JoinDecision::Kind::kJoin:
      Join(readings[decision.chosen]);
      return;
    case JoinDecision::Kind::kTie: {
      std::vector<std::size_t> tied;
      for (const JoinReading& reading : readings) {
        if (reading.weight == JoinReading::Weight::kPasses) tied.push_back(reading.waiter);
      }
      std::sort(tied.begin(), tied.end());
      tied.erase(std::unique(tied.begin(), tied.end()), tied.end());
      for (std::size_t n = tied.size(); n-- > 0;) {
        Settle(tied[n], waiting_[tied[n]].piece.whyDamaged + "; " + decision.why);
      }
      return;
    }
    case JoinDecision::Kind::kNone:
      for (const JoinReading& reading : readings) {
        if (!reading.awaitsFoundFile) continue;
        waiting_[reading.waiter].awaited = end;
        waiting_[reading.waiter].awaitedSince = joinedPieces_.size();
      }
      TryPieceChains(end);
      TrySeamRuns();
      return;
    case JoinDecision::Kind::kUndecided:
      return;
  }
}

// The first piece's own raw data breaks before the reading's split: the
// piece ended at a cluster start before the break (the decode breaks within
// a few blocks of a foreign cluster), where no header says so, and its
// window ran on into another file's piece. Those cluster starts become
// splits of the piece, and readings of the same end.
void PieceJoiner::AddDecodedSplits(const JoinReading& broken, std::vector<JoinReading>& readings) {
  Waiter& waiter = waiting_[broken.waiter];
  std::int64_t at = grid_.NextClusterStart(broken.header + broken.brokenAt) - grid_.clusterSize - broken.header;
  for (int n = 0; n < JoinLimits::kDecodedSplitsPerBreak && at > 0; ++n, at -= grid_.clusterSize) {
    if (waiter.splits.size() >= JoinLimits::kMaxSplits) return;
    if (!AddSplit(waiter, at)) continue;
    JoinReading reading = broken;
    reading.split = at;
    reading.secondFrom = broken.secondTo - (broken.size - at);
    reading.splitAtHeader = false;
    reading.secondAfterFileEnd = false;
    reading.weight = JoinReading::Weight::kUnweighed;
    reading.fault.clear();
    reading.raw = RawDataVerdict::Unknown;
    reading.brokenAt = -1;
    if (reading.Gap() > 0 || (reading.Wraps() && reading.secondFrom >= 0)) readings.push_back(reading);
  }
}

// A first piece whose every split lies past the file that an end implies
// ran on past its own end into clusters of other files, and no header says
// where. Its own raw data tells: decoded with the records that the end's
// last bytes hold, where the decode of its own bytes breaks the piece
// ended; where the piece holds the whole stream, it ended among the records
// after it, in one of the clusters that begin from the stream's end to the
// file's size.
void PieceJoiner::ProbeFirstPieces(const RootEnd& end) {
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    Waiter& waiter = waiting_[i];
    const std::optional<std::int64_t> fitted = FittedSize(waiter.piece, end);
    if (waiter.probed || waiter.probes >= JoinLimits::kMaxProbesPerPiece || !fitted ||
        Splits(waiter).front() < *fitted) {
      continue;
    }
    const std::int64_t size = *fitted;
    const std::int64_t cost = budget_.EntriesToWeigh(size);
    if (budget_.Left(fedTo_) <= cost) return;
    budget_.Spend(cost);
    const std::optional<CanonRawLayout> layout = LayoutAtEnd(waiter, end, size);
    if (!layout || layout->RecordEnd() > size) continue;
    ++waiter.probes;
    CanonRawDecoder decoder(*layout);
    const auto recordEnd = static_cast<std::size_t>(layout->RecordEnd());
    decoder.Feed(std::span<const std::uint8_t>(waiter.piece.bytes).first(recordEnd));
    if (decoder.Complete()) {
      waiter.probed = true;
      AddSplitsFrom(waiter, layout->RecordEnd() - CanonRawDecoder::kMaxTrailingBytes, size);
      continue;
    }
    // A stream of another length than the end's records say: another end may tell.
    const CanonRawDecoder::Fault fault = decoder.FaultFound();
    if (!decoder.Broken() || fault == CanonRawDecoder::Fault::kEndsEarly ||
        fault == CanonRawDecoder::Fault::kPastRecordEnd || decoder.ValuesDecoded() + 64 >= layout->CodedValues()) {
      continue;
    }
    waiter.probed = true;
    JoinReading probe;
    probe.waiter = i;
    probe.header = waiter.piece.start;
    probe.size = size;
    probe.secondTo = end.end;
    probe.brokenAt = decoder.BrokenAt();
    std::vector<JoinReading> unused;
    AddDecodedSplits(probe, unused);
  }
}

// The file's size where the end fits the piece by arithmetic: the same byte
// order, and the end a whole number of clusters past the file the piece
// begins, within the bound; none where it does not.
std::optional<std::int64_t> PieceJoiner::FittedSize(const FirstPiece& piece, const RootEnd& end) const {
  const std::int64_t size = end.FileSize(piece.headerLength);
  const std::int64_t gap = end.end - size - piece.start;
  if (piece.bigEndian != end.bigEndian || size > RecoveryLimits::kMaxCrwSize || gap <= 0 ||
      gap > JoinLimits::kMaxGapBytes || gap % grid_.clusterSize != 0) {
    return std::nullopt;
  }
  return size;
}

// The cluster starts from from to to, counted from the piece's header, become splits of it.
void PieceJoiner::AddSplitsFrom(Waiter& waiter, std::int64_t from, std::int64_t to) {
  for (std::int64_t at = grid_.NextClusterStart(waiter.piece.start + from - 1) - waiter.piece.start;
       at > 0 && at < to && waiter.splits.size() < JoinLimits::kMaxSplits;
       at = grid_.NextClusterStart(waiter.piece.start + at) - waiter.piece.start) {
    AddSplit(waiter, at);
  }
}

// Puts at among the piece's splits, in order; false when it was one already.
bool PieceJoiner::AddSplit(Waiter& waiter, std::int64_t at) {
  const auto place = std::lower_bound(waiter.splits.begin(), waiter.splits.end(), at);
  if (place != waiter.splits.end() && *place == at) return false;
  waiter.splits.insert(place, at);
  return true;
}

// Where a piece of a joined file begins inside the waiting piece, the
// waiting piece's file may end: a camera's file ends where the clusters of
// another file, there when it wrote it or put there since, begin. Those
// starts become splits.
void PieceJoiner::AddFoundSplits(Waiter& waiter) const {
  const std::int64_t from = waiter.piece.start;
  const std::int64_t to = from + static_cast<std::int64_t>(waiter.piece.bytes.size());
  for (std::size_t n = 0; n < joinedPieces_.size() && waiter.splits.size() < JoinLimits::kMaxSplits; ++n) {
    const std::int64_t at = joinedPieces_[n].from;
    if (at > from && at < to && grid_.NextClusterStart(at - 1) == at) AddSplit(waiter, at - from);
  }
}

// Whether more than the piece's own bytes fixes where it ends, cut at
// split: a next file's header or a joined file's piece begins there, or its
// window closed there at a header or at the card's end. Where its own
// decode breaks, or among its records, its bytes only may end.
bool PieceJoiner::SplitFixed(const Waiter& waiter, std::int64_t split) const {
  const FirstPiece& piece = waiter.piece;
  const auto size = static_cast<std::int64_t>(piece.bytes.size());
  if (piece.cutByCardEnd && split > size - grid_.clusterSize) return true;
  if (split >= size) return piece.closedByHeader;
  if (CameraFileBeginsAt(piece.bytes.data() + split, size - split)) return true;
  return std::any_of(joinedPieces_.begin(), joinedPieces_.end(),
                     [&](const JoinedPiece& joined) { return joined.from == piece.start + split; });
}

// A piece joined from the since'th on lies within [from, to).
bool PieceJoiner::JoinedSinceWithin(std::size_t since, std::int64_t from, std::int64_t to) const {
  for (std::size_t n = since; n < joinedPieces_.size(); ++n) {
    if (joinedPieces_[n].to > from && joinedPieces_[n].from < to) return true;
  }
  return false;
}

// The readings that arithmetic allows: each waiting piece of the end's byte
// order, cut at each of its splits, whose second piece would begin a whole
// number of clusters after it within the bound.
std::vector<JoinReading> PieceJoiner::ReadingsOf(const RootEnd& end) {
  std::vector<JoinReading> readings;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    Waiter& waiter = waiting_[i];
    if (waiter.piece.bigEndian != end.bigEndian) continue;
    const std::int64_t size = end.FileSize(waiter.piece.headerLength);
    const std::int64_t gap = end.end - size - waiter.piece.start;
    // A piece cut by the card's end goes on at its start, before the piece.
    const bool wraps = waiter.piece.cutByCardEnd && end.end <= waiter.piece.start;
    if (size > RecoveryLimits::kMaxCrwSize || (gap <= 0 && !wraps) || gap > JoinLimits::kMaxGapBytes ||
        gap % grid_.clusterSize != 0) {
      continue;
    }
    Splits(waiter);
    AddFoundSplits(waiter);
    for (const std::int64_t split : waiter.splits) {
      if (split >= size) break;
      if (wraps && end.end - (size - split) < 0) continue;
      JoinReading reading;
      reading.waiter = i;
      reading.header = waiter.piece.start;
      reading.split = split;
      reading.size = size;
      reading.secondFrom = end.end - (size - split);
      reading.secondTo = end.end;
      // The card's end fixes the split as a header does.
      reading.splitAtHeader = SplitFixed(waiter, split) || wraps;
      readings.push_back(reading);
    }
  }
  return readings;
}

// The checks in the order of their cost: what the card says of the pieces'
// clusters, then (paid from the budget before anything is copied) the
// joined bytes' own search, structure and raw data.
void PieceJoiner::Weigh(JoinReading& reading) {
  reading.weight = JoinReading::Weight::kFails;
  reading.depth = 1;
  if (reading.fault = CardFault(reading); !reading.fault.empty()) return;
  if (reading.fault = DirectoryFault(reading, nullptr); !reading.fault.empty()) return;
  reading.depth = 2;
  reading.secondAfterFileEnd = FileEndsBefore(reading.secondFrom);
  // The readings of one end share its records, so where its compressed raw
  // data begins is read once, and a blind seam costs no copy after that.
  if (endStreamStart_ && reading.split < *endStreamStart_ && !reading.sizeFixedByDirectory) {
    reading.fault = LowBitsFault(reading);
    return;
  }
  // A reading is begun only where the budget pays for all of it, and pays
  // for the copy first: one whose seam is refused before any decode (on a
  // card used for months, many first pieces end in the low bits) costs the
  // copy alone, and leaves the rest to the readings after it.
  const std::int64_t cost = budget_.EntriesToWeigh(reading.size);
  const std::int64_t copy = budget_.EntriesForCopy(reading.size);
  const std::int64_t left = budget_.Left(fedTo_);
  if (left <= cost) {
    reading.weight = JoinReading::Weight::kUnweighed;
    reading.fault = "no work of the card's budget was left to weigh it";
    return;
  }
  budget_.Spend(copy);
  if (!Assemble(reading)) {
    reading.weight = JoinReading::Weight::kUnweighed;
    reading.fault = "its second piece is no longer held";
    return;
  }
  if (reading.fault = BlindSeamFault(reading); !reading.fault.empty()) return;
  // A seam in the low bits joins only where the files around fix both its
  // sides, whatever the decode says: where they do not, a seam nothing
  // fixes, it is not decoded.
  if (endStreamStart_ && reading.split < *endStreamStart_) {
    if (reading.fault = SidelessSeamFault(reading); !reading.fault.empty()) return;
  }
  budget_.Spend(cost - copy);
  reading.depth = 3;
  reading.end = FindCrwEnd(joined_, scratch_, std::min(left - cost, RecoveryLimits::kMaxEntriesPerWindow));
  budget_.Spend(reading.end.entriesVisited);
  if (reading.fault = BytesFault(reading); !reading.fault.empty()) return;
  reading.depth = 4;
  if (reading.fault = RawDataFault(reading); !reading.fault.empty()) return;
  if (reading.fault = LowBitsRivalFault(reading); !reading.fault.empty()) return;
  reading.weight = JoinReading::Weight::kPasses;
}

// A piece takes no cluster of a file found on the card, nor one that the
// card's FAT gives to another file than the one at its header.
std::string PieceJoiner::CardFault(const JoinReading& reading) const {
  if (const std::int64_t other = FileFoundWithin(reading.secondFrom, reading.secondTo); other >= 0) {
    return "its second piece would overlap the file at " + std::to_string(other);
  }
  // A piece of a file joined before may lie where the first piece runs on
  // to the next header: the first piece ends before it.
  if (const std::int64_t other = FileFoundWithin(reading.header, reading.header + reading.split);
      other >= 0 && other != reading.header) {
    return "its first piece would overlap the file at " + std::to_string(other);
  }
  const std::pair<std::int64_t, std::int64_t> pieces[] = {{reading.header, reading.header + reading.split},
                                                          {reading.secondFrom, reading.secondTo}};
  if (std::string fault = DirectoryClusterFault(pieces); !fault.empty()) return fault;
  if (!map_) return {};
  const std::uint32_t owner = map_->OwnerAt(reading.header);
  const std::int64_t cluster = map_->Volume().clusterSize;
  for (const auto& [from, to] : pieces) {
    for (std::int64_t at = from; at < to; at += cluster) {
      if (map_->OwnerAt(at) != owner) {
        return "its pieces take clusters that the card's FAT gives to another file, at " + std::to_string(at);
      }
    }
  }
  return {};
}

// A cluster of the card's directory, which grows among the files as the
// camera names more of them, is no photo's: a first piece that seems to
// run on into it ended before it.
std::string PieceJoiner::DirectoryClusterFault(std::span<const std::pair<std::int64_t, std::int64_t>> pieces) const {
  if (!directories_) return {};
  for (const auto& [from, to] : pieces) {
    if (const std::int64_t at = directories_->DirectorySectorWithin(from, to); at >= 0) {
      return "its pieces take a sector of the card's directory, at " + std::to_string(at);
    }
  }
  return {};
}

// What the card's directories say of the reading's size (and, once its bytes
// are put together, of its records). Entries that name another cluster, or
// none, leave it to the rest of the evidence.
std::string PieceJoiner::DirectoryFault(JoinReading& reading, const CrwRecords* records) const {
  if (!directories_) return {};
  const DirectoryWord word = directories_->Weigh(reading.header, reading.size, records);
  reading.sizeFixedByDirectory = records ? word.fixesSize : word.mayFixSize;
  return word.fault;
}

// What the joined bytes say of themselves.
std::string PieceJoiner::BytesFault(JoinReading& reading) {
  const CrwEnd& end = reading.end;
  if (!end.isCrw || end.trueSize != reading.size) {
    return "the size search finds no true end at " + std::to_string(reading.size) + " bytes";
  }
  // The pieces hold this file's clusters only: where another file begins at
  // a cluster start inside them, the file had more pieces (or the end is
  // another's).
  for (std::int64_t at = grid_.clusterSize; at < reading.size; at += grid_.clusterSize) {
    if (at != end.thumbnailStart && CameraFileBeginsAt(joined_.Data() + at, reading.size - at)) {
      const std::int64_t card = at < reading.split ? reading.header + at : reading.secondFrom + (at - reading.split);
      return "another file begins inside its pieces, at " + std::to_string(card);
    }
  }
  const auto& piece = waiting_[reading.waiter].piece;
  if (std::string fault = CrwStructureFault(joined_.Data(), reading.size, piece.bigEndian, piece.headerLength,
                                            end.thumbnailStart, end.thumbnailSize, true);
      !fault.empty()) {
    return fault;
  }
  const CrwRecords records = ReadCrwRecords(
      std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(reading.size)), piece.bigEndian,
      piece.headerLength);
  return DirectoryFault(reading, &records);
}

// Nine tenths of a photo is its raw data: decoded across the seam, a foreign
// cluster breaks it. A seam in the low bits stored before the compressed
// stream shows nothing, and is not joined. Raw data of a kind the decoder
// does not know joins only where the files around fix the seam: a next
// file's header right after the first piece, and another file's end right
// before the second.
std::string PieceJoiner::RawDataFault(JoinReading& reading) {
  const RawDataCheck check =
      CheckRawData(std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(reading.size)));
  reading.raw = check.verdict;
  reading.brokenAt = check.brokenAt;
  reading.streamStart = check.signalFrom;
  if (check.verdict == RawDataVerdict::Broken) {
    return "its raw data breaks at byte " + std::to_string(check.brokenAt) + " of the file: " + check.reason;
  }
  const bool plausible = check.verdict == RawDataVerdict::Plausible;
  if (plausible && reading.split >= check.signalFrom && reading.split < check.signalTo) return {};
  // Past its raw data (in the thumbnail, the records) the decode tells no
  // seam from another, as in the low bits: a middle piece taken for foreign
  // clusters there passes it.
  reading.seamPastRawData = plausible && reading.split >= check.signalTo;
  // The decode holds, and the size is not the arithmetic's alone: the card's
  // directory gives it, so the end is this photo's whatever the seam hides.
  if (plausible && reading.sizeFixedByDirectory) {
    reading.seamInLowBits = true;
    return LowBitsSeamFault(reading, check.signalFrom);
  }
  // Photos of one camera fill holes of one size, and in the low bits the end
  // of any of them fits: measured on camera cards, neither a next header nor
  // a file's end before the second piece told the true one.
  if (plausible) return LowBitsFault(reading);
  // Raw data of no kind the decoder knows: the files around the seam must fix it.
  if (reading.splitAtHeader && reading.secondAfterFileEnd) return {};
  return "its raw data is of no kind the decoder knows, and " + MissingSeamEvidence(reading);
}

// A seam in the low bits is not joined, whatever the decode says, so neither
// the search nor the decode is worth its time. The raw data's layout is read
// from the joined file's records.
std::string PieceJoiner::BlindSeamFault(const JoinReading& reading) {
  std::string whyNot;
  const auto layout =
      ReadCanonRawLayout(std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(reading.size)), whyNot);
  // The records lie in the end's own bytes when the split comes before them.
  if (layout && reading.split < layout->StreamStart()) endStreamStart_ = layout->StreamStart();
  return layout && reading.split < layout->StreamStart() && !reading.sizeFixedByDirectory ? LowBitsFault(reading)
                                                                                           : "";
}

// The card's directory fixes the size, and so the end, but not the seam:
// in the low bits another file's clusters after the first piece's true end
// (a last or middle piece of it) decode as well as the photo's own, and so
// do foreign clusters taken for a missing middle piece. Both sides of the
// seam must be fixed by the files around it: a next file's header right
// after the first piece, and another file's end right before the second (a
// file found there, a CRW's root directory, or a whole JPEG; a chance FF D9
// in other low bits is none). And no CRW may end inside the joined file's
// low bits, where another file's last piece would lie.
std::string PieceJoiner::LowBitsSeamFault(JoinReading& reading, std::int64_t signalFrom) {
  if (std::string fault = SidelessSeamFault(reading); !fault.empty()) return fault;
  return ForeignLowBitsFault(signalFrom, reading.size, [&](std::int64_t at) {
    return at < reading.split ? reading.header + at : reading.secondFrom + (at - reading.split);
  });
}

// Why a blind seam lacks a side fixed by the files around it, or empty
// where both are: a next file's header (or the photo before in a run) after
// the first piece, another file's end (or the photo after) before the second.
std::string PieceJoiner::SidelessSeamFault(JoinReading& reading) {
  // A piece that this file's header cut goes on after it: at the first
  // cluster free, which on a card used for months may be right after this
  // file's first piece, or, where this file overwrote a deleted photo, in
  // that photo's old clusters there. Either way the clusters before the
  // next file's header need not be this file's: its middle piece may lie
  // elsewhere, as long as they are, or a run of seams may lie shifted by
  // their length. Once the cut piece is joined, its pieces fix the seam.
  if (const std::int64_t cut = PieceCutByHeaderAt(reading.header); cut >= 0) {
    reading.awaitsFoundFile = true;
    return LowBitsFault(reading) + ", and the first piece at " + std::to_string(cut) +
           ", which its header cut, may go on right after its first piece";
  }
  const bool firstFixed = reading.splitAtHeader || reading.firstSideByChain;
  if (firstFixed && (reading.secondSideByChain || WholeFileEndsBefore(reading.secondFrom))) return {};
  // A file joined later beside the seam may fix the side that lacks one.
  reading.awaitsFoundFile = true;
  return LowBitsFault(reading) + ", and " +
         (firstFixed ? "no file's end fixes where its second piece begins"
                     : "no next file's header fixes where its first piece ends");
}

// Where a waiting piece ends at the header at header, its window closed
// there: where it begins; -1 where none waits so. A photo of the run being
// weighed is none: the run puts its second piece.
std::int64_t PieceJoiner::PieceCutByHeaderAt(std::int64_t header) const {
  for (const Waiter& waiter : waiting_) {
    const FirstPiece& piece = waiter.piece;
    if (std::find(runWeighed_.begin(), runWeighed_.end(), piece.start) != runWeighed_.end()) continue;
    const std::int64_t end = piece.start + static_cast<std::int64_t>(piece.bytes.size());
    if (piece.closedByHeader && end == header) return piece.start;
  }
  return -1;
}

// Among the low bits of the file put together in joined_, which show no
// seam, another file's bytes may yet be told: a CRW's end, where another
// file's last piece lies, or a cluster of coded data. cardAt gives the card
// position of a file offset.
std::string PieceJoiner::ForeignLowBitsFault(std::int64_t signalFrom, std::int64_t size,
                                             const std::function<std::int64_t(std::int64_t)>& cardAt) const {
  std::vector<RootEnd> ends;
  const std::int64_t lowBits = std::min(signalFrom, size);
  FindRootEnds(joined_.Data(), lowBits, 0, lowBits, 0, RecoveryLimits::kMaxCrwSize, ends);
  if (!ends.empty()) {
    return "another file ends inside its pieces, at " + std::to_string(cardAt(ends.front().end - 1)) +
           ", in the low bits stored before its compressed raw data, which show no seam";
  }
  const std::int64_t coded = CodedClusterInLowBits(
      std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(size)), grid_.clusterSize);
  if (coded >= 0) {
    return "the cluster at " + std::to_string(cardAt(coded)) + " among its low bits holds coded data, another file's";
  }
  return {};
}

// Another file ends right before position, by more than chance bytes: a
// file found on the card holds the cluster before (a piece of a joined one
// too), a CRW's root directory that lists raw data ends in it, the card's
// FAT gives that cluster to another file, or the nearest file that begins
// before position is a JPEG (a THM, a camera JPG) whose markers, read from
// its start, end in that cluster. An FF D9 alone might be two bytes of low
// bits.
bool PieceJoiner::WholeFileEndsBefore(std::int64_t position) {
  const std::int64_t cluster = grid_.clusterSize;
  if (FileFoundOn(position - cluster)) return true;
  if (const auto end = cameraEnds_.upper_bound(position - cluster); end != cameraEnds_.end() && *end <= position) {
    return true;
  }
  if (map_ && map_->OwnerAt(position - cluster) != 0 && map_->OwnerAt(position - cluster) != map_->OwnerAt(position)) {
    return true;
  }
  // As far back as the bound, or as what is kept of the card reaches.
  const std::int64_t clusters = std::max<std::int64_t>(1, JoinLimits::kMaxJpegBeforeBytes / cluster);
  before_.SetSize(0);
  if (!CopyCardBefore(position - clusters * cluster, position, before_)) {
    const std::int64_t kept = (position - recent_.Start()) / cluster;
    before_.SetSize(0);
    if (kept <= 0 || !CopyCardBefore(position - std::min(kept, clusters) * cluster, position, before_)) return false;
  }
  for (std::int64_t at = before_.Size() - cluster; at >= 0; at -= cluster) {
    if (!CameraFileBeginsAt(before_.Data() + at, before_.Size() - at)) continue;
    const auto length = static_cast<std::int64_t>(JpegExtent(
        std::span<const std::uint8_t>(before_.Data() + at, static_cast<std::size_t>(before_.Size() - at)),
        static_cast<std::size_t>(before_.Size() - at)));
    return length > before_.Size() - at - cluster;
  }
  return false;
}

// Copies the card bytes [from, to) from a waiting piece that holds them, or
// from what is kept of the card.
bool PieceJoiner::CopyCardBefore(std::int64_t from, std::int64_t to, FileImage& into) const {
  for (const Waiter& waiter : waiting_) {
    const std::int64_t pieceEnd = waiter.piece.start + static_cast<std::int64_t>(waiter.piece.bytes.size());
    if (from >= waiter.piece.start && to <= pieceEnd) {
      into.Append(waiter.piece.bytes.data() + (from - waiter.piece.start), to - from);
      return true;
    }
  }
  return CopyKept(from, to, into);
}

// Copies the card bytes [from, to) from what is kept of the card: its last
// bytes while a piece waits, and its first.
bool PieceJoiner::CopyKept(std::int64_t from, std::int64_t to, FileImage& into) const {
  if (from < 0) return false;
  if (to <= CardStartSize()) {
    into.Append(cardStart_.data() + from, to - from);
    return true;
  }
  return recent_.CopyTo(from, to, into);
}

// Low bits tell whose they are only where the photo is smooth beside its
// noise. Measured on synthetic photos of 1536 by 1024 values: a 4 KiB
// cluster of the photo's own low bits, against the values the stream gives
// for the same places, scores about -5 standard deviations in smooth sky and
// about -1 in texture, where another photo's low bits score about 0. Too
// weak to place a seam cluster by cluster, so the files around it must.
std::string PieceJoiner::LowBitsFault(const JoinReading& reading) {
  if (reading.seamPastRawData) return "its seam lies past its raw data, where the decode sees none";
  return "it is cut within the low bits stored before its compressed raw data, which show no seam";
}

std::string PieceJoiner::MissingSeamEvidence(const JoinReading& reading) {
  return reading.splitAtHeader ? "no file ends right before its second piece"
                               : "no next file's header fixes where its first piece ends";
}

// Another file ends in the cluster before position: an end of a root
// directory that lists raw data lies in it, a JPEG's end marker does, or the
// card's FAT gives it to another file.
bool PieceJoiner::FileEndsBefore(std::int64_t position) {
  const std::int64_t from = position - grid_.clusterSize;
  if (const auto end = cameraEnds_.upper_bound(from); end != cameraEnds_.end() && *end <= position) return true;
  if (map_ && map_->OwnerAt(from) != 0 && map_->OwnerAt(from) != map_->OwnerAt(position)) return true;
  before_.SetSize(0);
  for (const Waiter& waiter : waiting_) {
    const std::int64_t pieceEnd = waiter.piece.start + static_cast<std::int64_t>(waiter.piece.bytes.size());
    if (from >= waiter.piece.start && position <= pieceEnd) {
      return HoldsJpegEnd(waiter.piece.bytes.data() + (from - waiter.piece.start), grid_.clusterSize);
    }
  }
  return CopyKept(from, position, before_) && HoldsJpegEnd(before_.Data(), before_.Size());
}

// Puts the first split bytes of the piece and the card bytes of its second
// piece together into joined_; false when they are no longer kept.
bool PieceJoiner::Assemble(const JoinReading& reading) {
  const Waiter& waiter = waiting_[reading.waiter];
  // Its room grows with the largest file joined, not to the largest a file may be.
  joined_.SetSize(0);
  joined_.Append(waiter.piece.bytes.data(), reading.split);
  return CopyCard(waiter, reading.secondFrom, reading.secondTo, joined_);
}

void PieceJoiner::Join(const JoinReading& reading) {
  if (!Assemble(reading)) return;
  const std::int64_t start = reading.header;
  joinedPieces_.push_back({start, start + reading.split, start});
  joinedPieces_.push_back({reading.secondFrom, reading.secondTo, start});
  std::vector<CardPiece> wrapped;
  if (reading.Wraps()) wrapped = {{start, start + reading.split}, {reading.secondFrom, reading.secondTo}};
  sink_.Joined({start, joined_, reading.end, reading.Gap() / grid_.clusterSize,
                reading.raw == RawDataVerdict::Plausible, reading.seamInLowBits, wrapped, reading.seamPastRawData});
  FirstPiece joined = TakeOut(reading.waiter);
  HoldIfSearched(joined);
  WeighAwaitedEnds();
}

// A joined file's pieces are its own: where one lies beside the seam of a
// reading that waited for a file there (in the waiting piece, or before the
// end), its end is weighed again. Each pass takes one end out of waiting,
// and a reading that fails again waits only on pieces joined after it: the
// passes end.
void PieceJoiner::WeighAwaitedEnds() {
  if (weighingAwaited_) return;  // the loop below picks up what the join it is in found
  weighingAwaited_ = true;
  for (bool weighed = true; weighed;) {
    weighed = false;
    for (Waiter& waiter : waiting_) {
      if (!waiter.awaited ||
          !JoinedSinceWithin(waiter.awaitedSince, waiter.piece.start, waiter.awaited->end)) {
        continue;
      }
      const RootEnd end = *std::exchange(waiter.awaited, std::nullopt);
      WeighEnd(end);  // may join, which changes waiting_
      weighed = true;
      break;
    }
    weighed = weighed || RetrySeamRuns();
  }
  weighingAwaited_ = false;
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

// A file found on the card (in one piece, or a piece of one joined) holds
// the cluster that begins at cluster.
bool PieceJoiner::FileFoundOn(std::int64_t cluster) const {
  return FileFoundWithin(cluster, cluster + grid_.clusterSize) >= 0;
}

// The reason a piece stays damaged: how its window closed, why no end joined it.
std::string PieceJoiner::Unjoined(const Waiter& waiter, const std::string& why) const {
  return waiter.piece.whyDamaged + "; " + (waiter.rejected.empty() ? why : waiter.rejected) +
         (waiter.chainRejected.empty() ? "" : "; " + waiter.chainRejected);
}

// Appends the card bytes [from, to) to into, from the piece's own bytes or
// from what is kept of the card; false when they are no longer kept.
bool PieceJoiner::CopyCard(const Waiter& waiter, std::int64_t from, std::int64_t to, FileImage& into) const {
  const std::int64_t pieceEnd = waiter.piece.start + static_cast<std::int64_t>(waiter.piece.bytes.size());
  // A second piece at the card's start lies before the first.
  if (from >= waiter.piece.start && from < pieceEnd) {
    const std::int64_t until = std::min(to, pieceEnd);
    into.Append(waiter.piece.bytes.data() + (from - waiter.piece.start), until - from);
    from = until;
  }
  // An end found in a window's own bytes may be weighed before the card
  // bytes past what was fed are kept: the window of another waiting piece
  // holds them.
  while (from < to) {
    std::int64_t until = from;
    if (from >= recent_.Start() && from < recent_.End()) {
      until = std::min(to, recent_.End());
      recent_.CopyTo(from, until, into);
    } else if (from >= 0 && from < CardStartSize()) {
      until = std::min(to, CardStartSize());
      into.Append(cardStart_.data() + from, until - from);
    }
    for (const FirstPiece* other : PiecesHeld()) {
      const std::int64_t otherEnd = other->start + static_cast<std::int64_t>(other->bytes.size());
      if (until == from && from >= other->start && from < otherEnd) {
        until = std::min(to, otherEnd);
        into.Append(other->bytes.data() + (from - other->start), until - from);
      }
    }
    if (until == from) return false;
    from = until;
  }
  return true;
}

std::vector<const FirstPiece*> PieceJoiner::PiecesHeld() const {
  std::vector<const FirstPiece*> pieces;
  for (const Waiter& waiter : waiting_) pieces.push_back(&waiter.piece);
  if (!held_.bytes.empty()) pieces.push_back(&held_);
  return pieces;
}

void PieceJoiner::Settle(std::size_t waiter, const std::string& reason) {
  FirstPiece piece = TakeOut(waiter);
  sink_.Unjoined(piece, reason);
  HoldIfSearched(piece);
}

// The piece leaves the waiting ones, and gives back its room.
FirstPiece PieceJoiner::TakeOut(std::size_t waiter) {
  FirstPiece piece = std::move(waiting_[waiter].piece);
  waitingBytes_ -= static_cast<std::int64_t>(piece.bytes.size());
  waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(waiter));
  return piece;
}

// The piece whose own bytes are being searched for ends keeps its bytes
// until they all are weighed, though it no longer waits: a second piece of
// another file may lie among them, past what the card has fed.
void PieceJoiner::HoldIfSearched(FirstPiece& piece) {
  if (piece.start != holding_) return;
  held_.start = piece.start;
  held_.bytes = std::move(piece.bytes);
}

// A piece whose end can no longer come: its file and the largest gap lie behind.
void PieceJoiner::Expire(std::int64_t now) {
  const std::int64_t reach = RecoveryLimits::kMaxCrwSize + JoinLimits::kMaxGapBytes + EndScanLimits::kMaxDirectoryBytes;
  for (std::size_t i = waiting_.size(); i-- > 0;) {
    if (now > waiting_[i].piece.start + reach) {
      Settle(i, Unjoined(waiting_[i], "no end within " + std::to_string(JoinLimits::kMaxGapBytes >> 20) +
                                          " MiB after it joins it"));
    }
  }
}

// What the search for pieces sees of the card: the kept bytes, the clusters
// no found file and no other file of the FAT holds, the card's budget.
class PieceJoiner::ChainCard : public PieceChainCard {
 public:
  ChainCard(PieceJoiner& joiner, const Waiter& waiter, std::int64_t to, std::int64_t bound)
      : joiner_(joiner), waiter_(waiter) {
    const std::int64_t from = waiter.piece.start;
    std::vector<std::pair<std::int64_t, std::int64_t>> taken;
    for (auto it = joiner.ownEnds_.lower_bound(from - RecoveryLimits::kMaxCrwSize);
         it != joiner.ownEnds_.end() && it->first < to; ++it) {
      if (it->second.end > from && it->second.header < to) taken.emplace_back(it->second.header, it->second.end);
    }
    for (const JoinedPiece& piece : joiner.joinedPieces_) {
      if (piece.to > from && piece.from < to) taken.emplace_back(piece.from, piece.to);
    }
    std::sort(taken.begin(), taken.end());
    for (const auto& [begin, end] : taken) {
      if (!taken_.empty() && begin <= taken_.back().second) {
        taken_.back().second = std::max(taken_.back().second, end);
      } else {
        taken_.emplace_back(begin, end);
      }
    }
    if (joiner.map_) owner_ = joiner.map_->OwnerAt(from);
    const std::int64_t earned = joiner.budget_.Left(joiner.fedTo_) + joiner.budget_.Spent();
    share_ = std::clamp<std::int64_t>(earned / PieceChainLimits::kShareOfBudget - joiner.chainSpent_, 0, bound);
  }
  ~ChainCard() override { joiner_.chainSpent_ += spent_; }

  bool Copy(std::int64_t from, std::int64_t to, FileImage& into) override {
    return joiner_.CopyCard(waiter_, from, to, into);
  }
  bool Free(std::int64_t cluster) override {
    if (joiner_.map_) {
      const std::uint32_t owner = joiner_.map_->OwnerAt(cluster);
      if (owner != 0 && owner != owner_) return false;
    }
    const std::int64_t end = cluster + joiner_.grid_.clusterSize;
    // The last found file that begins before the cluster's end must end before its start.
    const auto after = std::lower_bound(taken_.begin(), taken_.end(), end,
                                        [](const auto& taken, std::int64_t at) { return taken.first < at; });
    return after == taken_.begin() || std::prev(after)->second <= cluster;
  }
  bool PayCopy(std::int64_t bytes) override { return Spend(bytes); }
  // A decode is paid as two copies of its bytes, as the weighing of a join pays it.
  bool Pay(std::int64_t bytes) override { return Spend(2 * bytes); }
  std::string ClusterName(std::int64_t position) const override {
    return std::to_string(joiner_.grid_.Number(position));
  }

 private:
  // The search pays a cluster or less at a time, so whole entries are paid
  // ahead for the copied bytes owed; it spends at most its share, and leaves
  // the rest to the readings of two pieces that later ends ask for.
  bool Spend(std::int64_t copiedBytes) {
    owed_ += copiedBytes;
    const std::int64_t unit = joiner_.budget_.BytesPerCopiedEntry();
    const std::int64_t cost = (owed_ - paid_ * unit + unit - 1) / unit;
    if (cost <= 0) return true;
    if (spent_ + cost > share_ || joiner_.budget_.Left(joiner_.fedTo_) <= cost) return false;
    joiner_.budget_.Spend(cost);
    paid_ += cost;
    spent_ += cost;
    return true;
  }

  PieceJoiner& joiner_;
  const Waiter& waiter_;
  std::vector<std::pair<std::int64_t, std::int64_t>> taken_;  // found files, merged, in card order
  std::uint32_t owner_ = 0;
  std::int64_t share_ = 0;  // entries the search may spend
  std::int64_t spent_ = 0;
  std::int64_t owed_ = 0;   // copied bytes owed so far
  std::int64_t paid_ = 0;   // entries paid for them
};

// No reading of two pieces joins the end: the waiting pieces it fits by
// arithmetic are followed by their own decode through the card kept since,
// piece by piece. Exactly one file so put together, every seam proved, is
// joined; two are a tie.
void PieceJoiner::TryPieceChains(const RootEnd& end) {
  std::vector<FoundChain> found;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    Waiter& waiter = waiting_[i];
    const std::optional<std::int64_t> fitted = FittedSize(waiter.piece, end);
    if (!fitted || waiter.chainSearches >= PieceChainLimits::kMaxSearchesPerPiece) continue;
    const std::int64_t size = *fitted;
    // The card's directory may give the file at this header another size.
    if (directories_ && !directories_->Weigh(waiter.piece.start, size, nullptr).fault.empty()) continue;
    // Raw data the decoder does not know proves no seam: no search.
    const std::optional<CanonRawLayout> layout = LayoutAtEnd(waiter, end, size);
    if (!layout) continue;
    // A first piece closed by a next header before its compressed stream
    // is cut in the low bits.
    if (waiter.piece.closedByHeader && static_cast<std::int64_t>(waiter.piece.bytes.size()) <= layout->StreamStart()) {
      continue;
    }
    ++waiter.chainSearches;
    PieceChainRequest request;
    request.header = waiter.piece.start;
    request.size = size;
    request.endAt = end.end;
    request.clusterSize = grid_.clusterSize;
    request.headerLength = waiter.piece.headerLength;
    request.layout = *layout;
    ChainCard card(*this, waiter, end.end, budget_.EntriesToWeigh(size) * PieceChainLimits::kWeighingsPerSearch);
    PieceChain chain = FindPieceChain(request, card);
    std::string why = chain.why;
    CrwEnd crwEnd;
    if (chain.kind == PieceChain::Kind::kFound) {
      why = ChainFault(waiter, chain.pieces, size, crwEnd);
      if (why.empty()) {
        found.push_back({i, std::move(chain), crwEnd});
        continue;
      }
    }
    // A tie, or a file put together that fails its checks, is said after
    // what the reading of two pieces found.
    if (chain.kind == PieceChain::Kind::kTie || chain.kind == PieceChain::Kind::kFound) {
      waiter.chainRejected = "the end at " + std::to_string(end.end) + " fits it, but " +
                             (chain.kind == PieceChain::Kind::kTie
                                  ? "where its pieces were sought by its decode, "
                                  : "put together from the pieces its decode follows, it fails its check: ") +
                             why;
    }
  }
  if (found.size() == 1) {
    JoinChain(found.front());
    return;
  }
  if (found.size() > 1) {
    std::string names;
    for (std::size_t n = 0; n < found.size(); ++n) {
      names += (n == 0 ? "" : n + 1 == found.size() ? " and " : ", ") +
               std::to_string(waiting_[found[n].waiter].piece.start);
    }
    const std::string why = "the end at " + std::to_string(end.end) + " fits the headers at " + names +
                            ", each in pieces its decode follows, so none is joined by guess";
    for (std::size_t n = found.size(); n-- > 0;) {
      Settle(found[n].waiter, waiting_[found[n].waiter].piece.whyDamaged + "; " + why);
    }
  }
}

// The records that say how the raw data is coded lie in the end's last
// bytes: the first piece put before them, at the file's size, reads them.
std::optional<CanonRawLayout> PieceJoiner::LayoutAtEnd(const Waiter& waiter, const RootEnd& end, std::int64_t size) {
  const std::int64_t tail = std::min(size, JoinLimits::kProbeTailBytes);
  const std::int64_t head = std::min(static_cast<std::int64_t>(waiter.piece.bytes.size()), size - tail);
  joined_.SetSize(0);
  joined_.Append(waiter.piece.bytes.data(), head);
  joined_.SetSize(size - tail);
  if (!CopyCard(waiter, end.end - tail, end.end, joined_)) return std::nullopt;
  std::string whyNot;
  return ReadCanonRawLayout(std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(size)), whyNot);
}

bool PieceJoiner::AssembleChain(const Waiter& waiter, const std::vector<CardPiece>& pieces) {
  joined_.SetSize(0);
  for (const CardPiece& piece : pieces) {
    if (piece.to <= piece.from || !CopyCard(waiter, piece.from, piece.to, joined_)) return false;
  }
  return true;
}

// Why the pieces of the waiting piece's file cannot be its: they take a
// sector of the card's directory, a file found on the card, or clusters
// that the card's FAT gives to another file. Empty where they take none.
std::string PieceJoiner::OthersClustersFault(const Waiter& waiter, const std::vector<CardPiece>& pieces) const {
  std::vector<std::pair<std::int64_t, std::int64_t>> spans;
  for (const CardPiece& piece : pieces) spans.emplace_back(piece.from, piece.to);
  if (std::string fault = DirectoryClusterFault(spans); !fault.empty()) return fault;
  for (const CardPiece& piece : pieces) {
    if (const std::int64_t other = FileFoundWithin(piece.from, piece.to); other >= 0 && other != waiter.piece.start) {
      return "its pieces would overlap the file at " + std::to_string(other);
    }
  }
  if (!map_) return {};
  const std::uint32_t owner = map_->OwnerAt(waiter.piece.start);
  for (const CardPiece& piece : pieces) {
    for (std::int64_t at = piece.from; at < piece.to; at += grid_.clusterSize) {
      if (map_->OwnerAt(at) != 0 && map_->OwnerAt(at) != owner) {
        return "its pieces take clusters that the card's FAT gives to another file, at " + std::to_string(at);
      }
    }
  }
  return {};
}

// The checks a join of two pieces passes, on the file put together from its
// pieces: the card's FAT and directories, its own size search, its
// structure, and its raw data decoded whole.
std::string PieceJoiner::ChainFault(const Waiter& waiter, const std::vector<CardPiece>& pieces, std::int64_t size,
                                    CrwEnd& found, std::int64_t* signalFrom, bool* sizeFixed) {
  if (std::string fault = OthersClustersFault(waiter, pieces); !fault.empty()) return fault;
  const std::int64_t cost = budget_.EntriesToWeigh(size);
  const std::int64_t left = budget_.Left(fedTo_);
  if (left <= cost) return "no work of the card's budget was left to weigh it";
  budget_.Spend(cost);
  if (!AssembleChain(waiter, pieces) || joined_.Size() != size) return "its pieces are no longer held";
  found = FindCrwEnd(joined_, scratch_, std::min(left - cost, RecoveryLimits::kMaxEntriesPerWindow));
  budget_.Spend(found.entriesVisited);
  if (!found.isCrw || found.trueSize != size) {
    return "the size search finds no true end at " + std::to_string(size) + " bytes";
  }
  std::int64_t pieceAt = 0;
  for (const CardPiece& piece : pieces) {
    for (std::int64_t at = piece.from; at < piece.to; at += grid_.clusterSize) {
      const std::int64_t offset = pieceAt + (at - piece.from);
      if (offset > 0 && offset != found.thumbnailStart &&
          CameraFileBeginsAt(joined_.Data() + offset, size - offset)) {
        return "another file begins inside its pieces, at " + std::to_string(at);
      }
    }
    pieceAt += piece.to - piece.from;
  }
  const auto bytes = std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(size));
  if (std::string fault = CrwStructureFault(joined_.Data(), size, waiter.piece.bigEndian, waiter.piece.headerLength,
                                            found.thumbnailStart, found.thumbnailSize, true);
      !fault.empty()) {
    return fault;
  }
  if (directories_) {
    const CrwRecords records = ReadCrwRecords(bytes, waiter.piece.bigEndian, waiter.piece.headerLength);
    const DirectoryWord word = directories_->Weigh(waiter.piece.start, size, &records);
    if (!word.fault.empty()) return word.fault;
    if (sizeFixed) *sizeFixed = word.fixesSize;
  }
  const RawDataCheck check = CheckRawData(bytes);
  if (check.verdict != RawDataVerdict::Plausible) return check.reason;
  if (signalFrom) *signalFrom = check.signalFrom;
  const std::int64_t firstSeam = pieces.front().to - pieces.front().from;
  if (pieces.size() >= 2 && firstSeam >= check.signalFrom && firstSeam < check.signalTo) {
    return WeighLowBitsRival(waiter, pieces, size, check.signalFrom).fault;
  }
  return {};
}

void PieceJoiner::JoinChain(const FoundChain& found, bool seamsInLowBits) {
  const Waiter& waiter = waiting_[found.waiter];
  if (!AssembleChain(waiter, found.chain.pieces)) return;
  const std::int64_t start = waiter.piece.start;
  for (const CardPiece& piece : found.chain.pieces) joinedPieces_.push_back({piece.from, piece.to, start});
  sink_.Joined({start, joined_, found.end, 0, true, seamsInLowBits, found.chain.pieces});
  FirstPiece joined = TakeOut(found.waiter);
  HoldIfSearched(joined);
  WeighAwaitedEnds();
}

}  // namespace mendrake



