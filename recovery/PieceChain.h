#pragma once

#include "analysis/FileImage.h"
#include "recovery/CanonRawLayout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mendrake {

// Bounds of the search for a file written in three or more pieces, each with
// its reason.
struct PieceChainLimits {
  // Pieces of one file. A camera that fills the holes a round of deletes
  // left puts a photo of a few hundred clusters into a handful of them; a
  // photo in more pieces than this is kept as damaged rather than searched
  // for without end.
  static constexpr int kMaxPieces = 16;
  // Cluster starts tried as the next piece at one seam. The next piece lies
  // between the last one and the end's own clusters; where more cluster
  // starts lie there than this, the one that continues the decode is not
  // proved the only one, and the file is not joined.
  static constexpr std::size_t kMaxStartsPerSeam = std::size_t{1} << 15;
  // The card bytes after a piece searched for the next one: within what is
  // kept of the card while a piece waits (a file's bound), whatever the
  // cluster size.
  static constexpr std::int64_t kMaxSpanBytes = std::int64_t{48} << 20;
  // Decodes held at the cluster starts of the piece being followed, to go
  // back to where it ended once its decode breaks: another stream's bytes
  // decode for at most kSpliceReachBlocks blocks, a few KB, which 64
  // clusters of even 512 bytes span.
  static constexpr std::size_t kKeptSeams = 64;
  // Card bytes copied at a time while candidates are tried.
  static constexpr std::int64_t kWindowBytes = std::int64_t{1} << 20;
  // Cluster starts that continue the decode at one seam followed each as a
  // reading of its own: similar photos of one camera continue each other's
  // decode for a while, and only the end tells them apart. Past this the
  // seam is a tie.
  static constexpr std::size_t kMaxBranchesPerSeam = 32;
  // Readings followed in all, so that the branches do not multiply without end.
  static constexpr int kMaxReadings = 256;
  // The searches spend at most this part of what the card's bytes earned of
  // its work budget: the readings of two pieces that later ends ask for must
  // still be paid.
  static constexpr std::int64_t kShareOfBudget = 4;
  // One search costs at most as much as weighing this many readings of two
  // pieces of the file: a search for an end that is another photo's follows
  // this photo's pieces as far as the one for its own end, and must not
  // spend the share of the searches after it.
  static constexpr std::int64_t kWeighingsPerSearch = 16;
  // Searches a first piece is given: each end that fits it by arithmetic
  // asks for one, and ends of other photos' last pieces fit as well.
  static constexpr int kMaxSearchesPerPiece = 8;
};

// A stretch of the card, [from, to).
struct CardPiece {
  std::int64_t from = 0;
  std::int64_t to = 0;
  bool operator==(const CardPiece&) const = default;
};

// What the search is given of the card.
class PieceChainCard {
 public:
  virtual ~PieceChainCard() = default;
  // Appends the card bytes [from, to) to into; false when they are not all held.
  virtual bool Copy(std::int64_t from, std::int64_t to, FileImage& into) = 0;
  // Pays for a copy of bytes, before it is made; false once the card's budget is spent.
  virtual bool PayCopy(std::int64_t bytes) = 0;
  // Whether the cluster at position may be the file's: no file found on the
  // card, and no other file of the card's FAT, holds it.
  virtual bool Free(std::int64_t cluster) = 0;
  // Pays for decoding bytes, before they are decoded; false once the card's
  // budget is spent.
  virtual bool Pay(std::int64_t bytes) = 0;
  // The cluster at position as the log names it: the number the card's grid gives it.
  virtual std::string ClusterName(std::int64_t position) const = 0;
};

struct PieceChainRequest {
  std::int64_t header = 0;      // card position of the file's first byte
  std::int64_t size = 0;        // the file's length, from its end's heap pointer
  std::int64_t endAt = 0;       // card position just past the file's last byte
  std::int64_t clusterSize = 0;
  std::int64_t headerLength = 26;
  CanonRawLayout layout;        // from the end's records
};

struct PieceChain {
  enum class Kind {
    kFound,   // pieces holds the file, every seam proved by its decode
    kNone,    // no chain of pieces makes the file; why says where it stopped
    kTie,     // at one seam more than one cluster continues the decode
    kUnpaid,  // the card's budget ran dry before the search ended
  };
  Kind kind = Kind::kNone;
  std::vector<CardPiece> pieces;
  std::string why;
};

// Follows the file's raw data from its header on, a cluster at a time: where
// its decode breaks (or another file's cluster or header comes) its piece
// ended at one of the cluster starts just before; the next piece is a
// cluster start after it that continues the decode, or the end's own
// clusters, which must run to the record's end with the decode complete and
// make the file exactly size bytes. Exactly one reading so completed is the
// file; two are a tie. A seam in the low bits, where the decode sees
// nothing, is never taken.
PieceChain FindPieceChain(const PieceChainRequest& request, PieceChainCard& card);

}  // namespace mendrake
