// A window read in one piece against the first piece its header cut.
#include "recovery/PieceJoin.h"

#include "recovery/FileSignatures.h"
#include "recovery/RawDataCheck.h"
#include "recovery/RecoveryLimits.h"

#include <algorithm>

namespace mendrake {

// A camera that writes a photo into a hole of one cluster skips the next
// file's first cluster and goes on right after it. Read from that next
// file's header, the bytes then hold its header and the low bits of its
// first rows, and the other photo's rest: the low bits show no seam, and
// the structure is the rest's. The piece the header cut, read on past as
// many bytes, is the other reading of the same bytes; where it passes every
// check the window's reading passed, the card does not say whose header and
// low bits begin the file. Nothing of the picture depends on that but the
// low two bits of its first values, unless the cut lies past the low bits
// and both readings decode: then the two are different pictures.
WindowRival PieceJoiner::RivalOfWindow(std::int64_t start, std::span<const std::uint8_t> file) {
  WindowRival rival;
  const std::optional<CrwHeader> header = CrwHeaderAt(file.data(), static_cast<std::int64_t>(file.size()));
  if (!header) return rival;
  const auto size = static_cast<std::int64_t>(file.size());
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const FirstPiece& piece = waiting_[i].piece;
    const auto split = static_cast<std::int64_t>(piece.bytes.size());
    // A piece of a copy of the same file reads as the same bytes.
    if (!piece.closedByHeader || piece.start + split != start || split >= size ||
        piece.bigEndian != header->bigEndian || piece.headerLength != header->length ||
        std::equal(piece.bytes.begin(), piece.bytes.end(), file.begin())) {
      continue;
    }
    JoinReading reading;
    reading.waiter = i;
    reading.header = piece.start;
    reading.split = split;
    reading.size = size;
    reading.secondFrom = start + split;
    reading.secondTo = start + size;
    reading.splitAtHeader = true;
    if (!CardFault(reading).empty() || !DirectoryFault(reading, nullptr).empty()) continue;
    const std::int64_t cost = budget_.EntriesToWeigh(size);
    const std::int64_t left = budget_.Left(fedTo_);
    if (left <= cost) continue;
    budget_.Spend(cost);
    joined_.SetSize(0);
    joined_.Append(piece.bytes.data(), split);
    joined_.Append(file.data() + split, size - split);
    reading.end = FindCrwEnd(joined_, scratch_, std::min(left - cost, RecoveryLimits::kMaxEntriesPerWindow));
    budget_.Spend(reading.end.entriesVisited);
    if (!BytesFault(reading).empty()) continue;
    const RawDataCheck raw =
        CheckRawData(std::span<const std::uint8_t>(joined_.Data(), static_cast<std::size_t>(size)));
    if (raw.verdict == RawDataVerdict::Broken) continue;
    rival.piece = piece.start;
    rival.split = split;
    rival.bothDecode = raw.verdict == RawDataVerdict::Plausible && split >= raw.signalFrom;
    return rival;
  }
  return rival;
}

}  // namespace mendrake
