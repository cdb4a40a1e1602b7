// A seam in the compressed stream against the same pieces read with that
// seam in the low bits before it.
#include "recovery/PieceJoin.h"

#include "recovery/FileSignatures.h"
#include "recovery/RawDataCheck.h"

#include <algorithm>

namespace mendrake {

// A first seam that the decode finds in the compressed stream proves that
// the bytes after it follow those before it, not that the bytes before it
// are the first piece's own: the first piece may as well have ended in its
// low bits, and the second piece begun as much earlier. Read so, the
// stream's first bytes are whatever the card holds before the second piece,
// and where that is another photo's stream, as alike as photos of one camera
// are, its decode holds on into the photo's own bytes. Measured on synthetic
// photos 256 and 1536 values wide: another photo's stream put before the
// photo's own, at the same offsets or a few clusters off, decodes plausibly
// one time in a hundred with 1 KB of it, and still now and then with 13 KB.
// Of all such readings the one whose first piece ends in the cluster that
// holds the stream's start takes the fewest clusters before the second
// piece, and its stream is theirs: where it passes, the card does not say
// where the first piece ended. A seam right at the stream's start is such a
// reading itself, and is weighed against the one a cluster before it.
LowBitsRival PieceJoiner::WeighLowBitsRival(const Waiter& waiter, const std::vector<CardPiece>& pieces,
                                            std::int64_t size, std::int64_t streamStart) {
  const std::int64_t cluster = grid_.clusterSize;
  const std::int64_t split = pieces.front().to - pieces.front().from;
  std::vector<CardPiece> rival = pieces;
  rival[0].to = rival[0].from + std::min(streamStart / cluster * cluster, split - cluster);
  rival[1].from -= split - (rival[0].to - rival[0].from);
  const CardPiece taken{rival[1].from, pieces[1].from};
  if (rival[0].to - rival[0].from < cluster || taken.from < 0) return {};
  const auto overlaps = [&](const CardPiece& piece) { return piece.from < taken.to && taken.from < piece.to; };
  if (overlaps(rival[0]) || std::any_of(pieces.begin() + 2, pieces.end(), overlaps)) return {};
  if (!OthersClustersFault(waiter, {taken}).empty()) return {};
  const std::int64_t cost = budget_.EntriesToWeigh(size) - budget_.EntriesForCopy(size);
  if (budget_.Left(fedTo_) <= cost) {
    return {true, "no work of the card's budget was left to weigh it with its first seam in the low bits"};
  }
  budget_.Spend(cost);
  rival_.SetSize(0);
  for (const CardPiece& piece : rival) {
    if (!CopyCard(waiter, piece.from, piece.to, rival_)) {
      return {true, "the card's bytes before its second piece are no longer held to weigh it with its first seam "
                    "in the low bits"};
    }
  }
  const std::int64_t cut = rival[0].to - rival[0].from;
  for (std::int64_t at = cut; at < split; at += cluster) {
    if (CameraFileBeginsAt(rival_.Data() + at, size - at)) return {};
  }
  const RawDataCheck check =
      CheckRawData(std::span<const std::uint8_t>(rival_.Data(), static_cast<std::size_t>(size)));
  if (check.verdict != RawDataVerdict::Plausible) return {};
  return {false, "read with its first piece cut after " + std::to_string(cut) +
                     " bytes, in the low bits stored before its compressed raw data, and its second piece from " +
                     std::to_string(rival[1].from) +
                     ", its raw data decodes as well, so the card does not say where its first piece ends"};
}

std::string PieceJoiner::LowBitsRivalFault(JoinReading& reading) {
  if (reading.raw != RawDataVerdict::Plausible || reading.seamPastRawData || reading.split < reading.streamStart) {
    return {};
  }
  const std::vector<CardPiece> pieces = {{reading.header, reading.header + reading.split},
                                         {reading.secondFrom, reading.secondTo}};
  LowBitsRival rival = WeighLowBitsRival(waiting_[reading.waiter], pieces, reading.size, reading.streamStart);
  if (rival.unweighed) reading.weight = JoinReading::Weight::kUnweighed;
  return rival.fault;
}

}  // namespace mendrake
