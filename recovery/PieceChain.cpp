#include "recovery/PieceChain.h"

#include "recovery/CanonRawDecoder.h"
#include "recovery/FileSignatures.h"
#include "recovery/RawDataCheck.h"

#include <algorithm>
#include <deque>

namespace mendrake {
namespace {

// The bytes of a candidate piece fed first: another photo's bytes, or
// another file's, mostly break the decode within them.
constexpr std::size_t kFirstBytesTried = 512;

// The rows right after a seam lie as close to the rows above as the
// photo's own rows before it do, within twice as far (and at least the 64
// units that all but one in a hundred rows of a 6-megapixel photo keep).
// Another photo's stream, put in at another place of its rows, starts each
// row from another value and lies further; the decode allows more (a
// horizon's edge) before it breaks, but a seam there is not taken.
constexpr std::int32_t kMinSeamRowJump = 64;
std::int32_t MaxSeamRowJump(const CanonRawDecoder& before) {
  return std::max(kMinSeamRowJump, 2 * before.WidestRecentRowJump());
}

// Values another stream's bytes may decode before they break the decode: a
// seam this close before where a piece stopped is not ruled out.
constexpr std::int64_t kReachValues = 64 * (CanonRawDecoder::kSpliceReachBlocks + 1);

// A place where a piece may end: the decode of the file's bytes before
// fileAt, the piece having run on the card up to cardAt.
struct Seam {
  std::int64_t fileAt;
  std::int64_t cardAt;
  CanonRawDecoder decoder;
};

// A piece that may follow a seam.
struct NextPiece {
  std::size_t seam;
  std::int64_t start;
  bool last;  // the end's own clusters, which close the file
  // It decoded plausibly, but ran into another file's cluster before the
  // decode could tell: a short piece, followed like any other.
  bool tooShort = false;
};

// The card bytes around the candidates being tried, copied a window at a
// time so that trying the next cluster start copies nothing.
class CardWindow {
 public:
  CardWindow(PieceChainCard& card, std::int64_t limit) : card_(card), limit_(limit) {}

  // The bytes [at, at + length), as far as the limit; empty when not held,
  // or when the card's budget does not pay for their copy (Unpaid()).
  std::span<const std::uint8_t> Bytes(std::int64_t at, std::int64_t length) {
    const std::int64_t to = std::min(at + length, limit_);
    if (to <= at) return {};
    if (at < from_ || to > from_ + bytes_.Size()) {
      from_ = at;
      bytes_.SetSize(0);
      const std::int64_t wide = std::min(at + std::max(length, PieceChainLimits::kWindowBytes), limit_);
      if (!card_.PayCopy(wide - at)) {
        unpaid_ = true;
        return {};
      }
      if (!card_.Copy(at, wide, bytes_)) {
        bytes_.SetSize(0);
        if (!card_.Copy(at, to, bytes_)) {
          bytes_.SetSize(0);
          return {};
        }
      }
    }
    return {bytes_.Data() + (at - from_), static_cast<std::size_t>(to - at)};
  }
  bool Unpaid() const { return unpaid_; }

 private:
  PieceChainCard& card_;
  std::int64_t limit_;
  std::int64_t from_ = 0;
  FileImage bytes_;
  bool unpaid_ = false;
};

// A cluster of one byte value is no camera's compressed data (it stuffs
// every FF, and its codes change every few bits), but zeros decode as a
// run of plausible blocks: never a piece.
bool OneValue(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == bytes.front(); });
}

class ChainSearch {
 public:
  ChainSearch(const PieceChainRequest& request, PieceChainCard& card)
      : r_(request), card_(card), window_(card, request.endAt), tailWindow_(card, request.endAt) {}

  PieceChain Run() {
    std::vector<CardPiece> pieces;
    Explore(CanonRawDecoder(r_.layout), r_.header, pieces);
    if (stopped_) return chain_;
    if (complete_.size() == 1) {
      chain_.kind = PieceChain::Kind::kFound;
      chain_.pieces = complete_.front();
    } else if (complete_.size() > 1) {
      chain_.kind = PieceChain::Kind::kTie;
      chain_.why = "its decode completes at the end from " + ReadingName(complete_[0]) + " and from " +
                   ReadingName(complete_[1]) + " alike, so neither is joined by guess";
    } else {
      chain_.kind = PieceChain::Kind::kNone;
      chain_.why = why_;
    }
    return chain_;
  }

 private:
  // Every reading that the decode allows is followed, piece by piece, each
  // branch where more than one cluster start continues it: a reading counts
  // once the end's own clusters complete its decode at the record's end,
  // which another photo's clusters put in its place seldom do. Exactly one
  // such reading is the file; two are a tie.
  void Explore(const CanonRawDecoder& decoder, std::int64_t from, std::vector<CardPiece>& pieces) {
    if (++readings_ > PieceChainLimits::kMaxReadings) {
      Stop(PieceChain::Kind::kNone, "more than " + std::to_string(PieceChainLimits::kMaxReadings) +
                                        " readings of its pieces continue its decode, too many to weigh");
      return;
    }
    std::vector<Seam> ends;
    if (!Follow(decoder, from, ends)) return;
    std::vector<NextPiece> next;
    if (!NextPieces(ends, next)) return;
    if (next.empty()) {
      Note("no cluster after its piece from cluster " + card_.ClusterName(from) + " continues its raw data's decode");
      return;
    }
    if (next.size() > PieceChainLimits::kMaxBranchesPerSeam) {
      Stop(PieceChain::Kind::kTie, NamesOf(next) + " continue its raw data's decode after its piece from cluster " +
                                       card_.ClusterName(from) + " alike, too many to weigh, so none is joined by guess");
      return;
    }
    if (static_cast<int>(pieces.size()) + 2 > PieceChainLimits::kMaxPieces) {
      Note("it would lie in more than " + std::to_string(PieceChainLimits::kMaxPieces) + " pieces");
      return;
    }
    for (const NextPiece& piece : next) {
      const Seam& seam = ends[piece.seam];
      pieces.push_back({from, seam.cardAt});
      if (!piece.last) {
        Explore(seam.decoder, piece.start, pieces);
      } else if (pieces.size() + 1 >= 3) {
        complete_.push_back(pieces);
        complete_.back().push_back({piece.start, r_.endAt});
      } else {
        Note("its decode finds it in two pieces, which the join of two weighs");
      }
      pieces.pop_back();
      if (stopped_ || complete_.size() > 1) return;
    }
  }

  // Why a branch ended, for the line where no reading completes: the first one met.
  bool Note(const std::string& why) {
    if (why_.empty()) why_ = why;
    return false;
  }
  // Ends the whole search.
  bool Stop(PieceChain::Kind kind, const std::string& why) {
    stopped_ = true;
    chain_.kind = kind;
    chain_.why = why;
    return false;
  }
  // Ends the branch: another reading may still complete.
  bool Fail(PieceChain::Kind, const std::string& why) { return Note(why); }

  // "clusters 10-29, 80-87 and 120-166"
  std::string ReadingName(const std::vector<CardPiece>& pieces) const {
    std::string name = "clusters ";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      name += (i == 0 ? "" : i + 1 == pieces.size() ? " and " : ", ") + card_.ClusterName(pieces[i].from) + "-" +
              card_.ClusterName(pieces[i].to - 1);
    }
    return name;
  }

  bool Unpaid() { return Stop(PieceChain::Kind::kUnpaid, "the card's work budget ran out while its pieces were sought"); }

  // Follows the piece that begins at card position from, with the decode of
  // the file's bytes before it, cluster by cluster until its decode breaks
  // or the piece can go no further, and gives the seams where it may have
  // ended: the cluster starts that the break may lie after, or, where it
  // stopped whole, those whose bytes since then might be another stream's.
  bool Follow(CanonRawDecoder decoder, std::int64_t from, std::vector<Seam>& ends) {
    const bool first = from == r_.header;
    const std::int64_t pieceStart = decoder.NextOffset();
    std::deque<Seam> kept;
    bool forgotten = false;
    std::int64_t file = pieceStart, card = from;
    for (;;) {
      if (card != from) {
        kept.push_back({file, card, decoder});
        if (kept.size() > PieceChainLimits::kKeptSeams) kept.pop_front(), forgotten = true;
      }
      const std::span<const std::uint8_t> bytes = window_.Bytes(card, std::min(r_.clusterSize, r_.size - file));
      if (bytes.empty()) {
        if (window_.Unpaid()) return Unpaid();
        return Stop(PieceChain::Kind::kNone, "the card's bytes at cluster " + card_.ClusterName(card) +
                                                 " are no longer held");
      }
      if (card != from && (CameraFileBeginsAt(bytes.data(), static_cast<std::int64_t>(bytes.size())) || OneValue(bytes))) {
        break;
      }
      // The bytes before the stream are skipped, not decoded.
      const std::int64_t decoded = file + static_cast<std::int64_t>(bytes.size()) - r_.layout.StreamStart();
      if (decoded > 0 && !card_.Pay(std::min(decoded, static_cast<std::int64_t>(bytes.size())))) return Unpaid();
      decoder.Feed(bytes);
      file += static_cast<std::int64_t>(bytes.size());
      card += static_cast<std::int64_t>(bytes.size());
      if (decoder.Broken()) break;
      if (decoder.Complete()) {
        return Fail(PieceChain::Kind::kNone, "its raw data's decode completes in its piece from cluster " +
                                                 card_.ClusterName(from) + ", short of the end's clusters");
      }
    }
    if (first && kept.empty()) return Fail(PieceChain::Kind::kNone, "its first cluster is another file's");
    std::int64_t earliest = 0;
    if (decoder.Broken()) {
      earliest = decoder.EarliestSplice() / r_.clusterSize * r_.clusterSize;
      for (const Seam& seam : kept) {
        if (seam.fileAt >= earliest && seam.fileAt <= decoder.BrokenAt()) ends.push_back(seam);
      }
    } else {
      for (const Seam& seam : kept) {
        if (seam.decoder.ValuesDecoded() + kReachValues > decoder.ValuesDecoded()) ends.push_back(seam);
      }
      earliest = ends.empty() ? file : ends.front().fileAt;
    }
    // Every seam the decode allows must be held, or the one that continues
    // is not proved the only one.
    if (ends.empty() || earliest <= pieceStart || (forgotten && ends.front().fileAt == kept.front().fileAt) ||
        (decoder.Broken() && ends.front().fileAt > std::max(earliest, pieceStart + r_.clusterSize))) {
      return Stop(PieceChain::Kind::kNone, "its decode does not tell where its piece from cluster " +
                                               card_.ClusterName(from) + " ends");
    }
    if (ends.front().fileAt < r_.layout.StreamStart()) {
      return Fail(PieceChain::Kind::kNone,
                  "its first piece may end within the low bits stored before its compressed raw data, which show "
                  "no seam");
    }
    // Before its first rows the decode has nothing to hold another
    // stream's start to: any photo's stream would continue it.
    if (ends.front().decoder.RowsDecoded() < 2) {
      return Fail(PieceChain::Kind::kNone,
                  "its first piece may end within its raw data's first rows, where the decode shows no seam");
    }
    return true;
  }

  // The pieces that may follow the seams: the end's own clusters where they
  // close the file, and each cluster start after a seam and before them
  // whose bytes continue the decode.
  bool NextPieces(const std::vector<Seam>& ends, std::vector<NextPiece>& next) {
    std::size_t tried = 0;
    for (std::size_t s = 0; s < ends.size(); ++s) {
      const Seam& seam = ends[s];
      // Where the end's own clusters would begin after this seam.
      const std::int64_t last = r_.endAt - (r_.size - seam.fileAt);
      if (last <= seam.cardAt) continue;
      bool closes = false;
      if (!Closes(seam, last, closes)) return false;
      if (closes) next.push_back({s, last, true});
      // Past the bound of branches the seam is a tie, whatever else would continue it.
      if (next.size() > PieceChainLimits::kMaxBranchesPerSeam) return true;
      const std::int64_t reach = std::min(last, seam.cardAt + PieceChainLimits::kMaxSpanBytes);
      if (reach < last) {
        return Stop(PieceChain::Kind::kNone, "its end lies more than " +
                                                 std::to_string(PieceChainLimits::kMaxSpanBytes >> 20) +
                                                 " MiB after its piece from cluster " + card_.ClusterName(seam.cardAt));
      }
      for (std::int64_t start = seam.cardAt + r_.clusterSize; start < last; start += r_.clusterSize) {
        if (!card_.Free(start)) continue;
        if (++tried > PieceChainLimits::kMaxStartsPerSeam) {
          return Stop(PieceChain::Kind::kNone, "more than " + std::to_string(PieceChainLimits::kMaxStartsPerSeam) +
                                                   " cluster starts lie between its pieces, too many to prove one");
        }
        ContinuationVerdict verdict = ContinuationVerdict::Undecided;
        if (!Continues(seam, start, last, verdict)) return false;
        if (verdict != ContinuationVerdict::Breaks) {
          next.push_back({s, start, false, verdict == ContinuationVerdict::Undecided});
        }
        if (next.size() > PieceChainLimits::kMaxBranchesPerSeam) return true;
      }
    }
    return true;
  }

  // Whether the end's own clusters, from last, continue the decode after the
  // seam to the record's end and complete it.
  bool Closes(const Seam& seam, std::int64_t last, bool& closes) {
    for (std::int64_t at = last; at < r_.endAt; at += r_.clusterSize) {
      if (!card_.Free(at)) return true;
    }
    CanonRawDecoder after = seam.decoder;
    after.MarkSeam();
    std::int64_t file = seam.fileAt, card = last, chunk = r_.clusterSize;
    // Another piece's bytes break the decode within a few KB: the bytes are
    // fed a cluster first and more each time after.
    while (!after.Broken() && !after.Complete() && file < r_.size && file < r_.layout.RecordEnd()) {
      const std::int64_t length = std::min({chunk, r_.size - file, r_.layout.RecordEnd() - file});
      const std::span<const std::uint8_t> bytes = tailWindow_.Bytes(card, length);
      if (bytes.empty()) return !tailWindow_.Unpaid() || Unpaid();
      if (!card_.Pay(length)) return Unpaid();
      after.Feed(bytes);
      if (after.WidestRowJumpSinceSeam() > MaxSeamRowJump(seam.decoder)) return true;
      file += length;
      card += length;
      chunk = std::min(chunk * 2, PieceChainLimits::kWindowBytes);
    }
    closes = after.Complete() && !after.Broken();
    return true;
  }

  // Whether the piece at start continues the decode after the seam, fed as
  // far as the decode tells.
  bool Continues(const Seam& seam, std::int64_t start, std::int64_t last, ContinuationVerdict& verdict) {
    if (const std::span<const std::uint8_t> bytes = window_.Bytes(start, r_.clusterSize);
        !bytes.empty() && (CameraFileBeginsAt(bytes.data(), static_cast<std::int64_t>(bytes.size())) || OneValue(bytes))) {
      verdict = ContinuationVerdict::Breaks;
      return true;
    }
    CanonRawDecoder after = seam.decoder;
    after.MarkSeam();
    std::int64_t file = seam.fileAt;
    for (std::int64_t card = start; card < last && file < r_.size; card += r_.clusterSize) {
      if (card != start && !card_.Free(card)) return true;
      const std::span<const std::uint8_t> bytes = window_.Bytes(card, std::min(r_.clusterSize, r_.size - file));
      if (bytes.empty()) return !window_.Unpaid() || Unpaid();
      if (CameraFileBeginsAt(bytes.data(), static_cast<std::int64_t>(bytes.size())) || OneValue(bytes)) return true;
      // Most candidates break within a few hundred bytes: the first are fed,
      // and paid, on their own.
      const std::size_t head = card == start ? std::min<std::size_t>(bytes.size(), kFirstBytesTried) : 0;
      for (const std::span<const std::uint8_t> part : {bytes.first(head), bytes.subspan(head)}) {
        if (part.empty()) continue;
        if (!card_.Pay(static_cast<std::int64_t>(part.size()))) return Unpaid();
        after.Feed(part);
        verdict = after.WidestRowJumpSinceSeam() > MaxSeamRowJump(seam.decoder)
                      ? ContinuationVerdict::Breaks
                      : JudgeContinuation(seam.decoder, after);
        if (verdict == ContinuationVerdict::Breaks) return true;
      }
      file += static_cast<std::int64_t>(bytes.size());
      if (verdict != ContinuationVerdict::Undecided) return true;
    }
    return true;
  }

  // "cluster 1971 and cluster 2305", "cluster 1971 and the end's clusters from 4065".
  std::string NamesOf(const std::vector<NextPiece>& next) const {
    std::string names;
    for (std::size_t i = 0; i < next.size(); ++i) {
      names += i == 0 ? "" : i + 1 == next.size() ? " and " : ", ";
      names += (next[i].last ? "the end's clusters from " : "cluster ") + card_.ClusterName(next[i].start) +
               (next[i].tooShort ? " (too short to tell)" : "");
    }
    return names;
  }

  const PieceChainRequest& r_;
  PieceChainCard& card_;
  CardWindow window_;
  CardWindow tailWindow_;
  PieceChain chain_;
  std::vector<std::vector<CardPiece>> complete_;  // the readings whose decode the end completes
  std::string why_;
  bool stopped_ = false;
  int readings_ = 0;
};

}  // namespace

PieceChain FindPieceChain(const PieceChainRequest& request, PieceChainCard& card) {
  if (request.clusterSize <= 0 || request.size <= 0) return {};
  return ChainSearch(request, card).Run();
}

}  // namespace mendrake

