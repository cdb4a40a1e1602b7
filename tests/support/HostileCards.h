#pragma once

#include "tests/support/CrwBuilder.h"

#include <cstddef>
#include <string>
#include <vector>

namespace mendrake::testing {

// Card images made to hurt a card scan, one for each way a crafted or badly
// damaged card made a scan slow, wrong or flooding: each of any size, so
// that a test takes a small one and the bench a large one.

// Big-endian windows of about 300 KiB, each a header and thousands of
// candidate ends closing a root directory of their own, whose one entry
// names a sub-heap that fans out into itself: every candidate is a different
// walk of a thousand entries, and the sub-heap lies past all of them.
Bytes FanOutWindowsCard(std::size_t size);

// count small CRW files one per cluster, all of one camera file number
// (CRW_0001) and one thumbnail, each with other raw data.
Bytes SameNumberFilesCard(int count);

// Eight first pieces of 2 MiB without an end, then an end in every cluster
// whose heap fits every piece by arithmetic: each end asks for eight joins
// of a file of 1 MiB to be weighed.
Bytes EndsForWaitingPiecesCard(std::size_t size);

// CRW headers 16 bytes apart.
Bytes DenseHeadersCard(std::size_t size);

// A file whose root directory lists its raw data past the file's end, where
// the card holds those bytes; then a whole file. Returns the whole file too.
struct RecordsOutside {
  Bytes card;
  std::size_t outsideAt;     // the file with a record outside it
  std::size_t wholeAt;       // the whole file
  Bytes whole;
};
RecordsOutside RecordsOutsideCard();

// Files without a thumbnail, each followed by a stray directory with a
// thumbnail record and a make and model record naming planted strings, which
// the walk of a longer candidate meets. Files at cluster starts.
struct StrayThumbnails {
  Bytes card;
  std::vector<std::size_t> at;
  std::vector<Bytes> files;
};
StrayThumbnails StrayThumbnailCard(int count);
// One file without a thumbnail and the stray directory after it, as junk
// behind a file that a repair is given.
Bytes FileWithStrayThumbnailAfter(bool bigEndian);
inline constexpr const char* kPlantedMake = "Planted";
inline constexpr const char* kPlantedModel = "Planted EOS";

// A camera file whose raw data holds, rawCopyAt bytes in, a copy of its own
// root directory and a pointer to it: a root heap that closes there and whose
// records lie far past it. rawSize must reach past the copy by more than a
// trailer's length (1 MiB) for a search from the copy to miss the true end.
Bytes FileWithRootCopyInItsRawData(std::size_t rawSize, std::size_t rawCopyAt, bool bigEndian = false);

// The kinds by name, for the bench's card maker: a card of about size bytes.
struct HostileCardKind {
  const char* name;
  Bytes (*build)(std::size_t size);
};
const std::vector<HostileCardKind>& HostileCardKinds();

}  // namespace mendrake::testing
