#pragma once

#include "recovery/CrwEnd.h"
#include "recovery/RawDataCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace mendrake {

// One reading of an end found without its start: a waiting first piece, cut
// after split bytes, continued by the card bytes that run up to the end. The
// arithmetic (the end lies a whole number of clusters after the piece) only
// makes it a candidate; weighing it against the evidence says whether it is
// the file.
struct JoinReading {
  std::size_t waiter = 0;
  std::int64_t header = 0;      // card position of the first piece's header
  std::int64_t split = 0;       // bytes of the first piece taken
  std::int64_t size = 0;        // the joined file's length, from the end's heap pointer
  std::int64_t secondFrom = 0;  // card positions of the second piece
  std::int64_t secondTo = 0;
  // A next file's header lies at the split (or closed the piece's window
  // there), or a piece of a file found on the card begins there: the split
  // is fixed by more than arithmetic.
  bool splitAtHeader = false;
  // Another file ends in the cluster before the second piece: where a camera
  // continues a file, the clusters before were another file's.
  bool secondAfterFileEnd = false;
  // Every directory entry that names the first piece's cluster gives this
  // size: where the decoder sees no seam, the card's word fixes the file.
  bool sizeFixedByDirectory = false;
  bool seamInLowBits = false;  // it passed with its seam where the decode sees none
  bool seamPastRawData = false;  // that blind seam lies past the raw data, not in the low bits before it
  std::int64_t streamStart = 0;  // where its compressed stream begins, once its raw data was read
  // Its seam in the low bits lacks a file found on one side: a file joined
  // later beside it may fix that side.
  bool awaitsFoundFile = false;
  // Another photo's reading, weighed with this one, puts its piece beside
  // the seam on that side.
  bool firstSideByChain = false;
  bool secondSideByChain = false;

  enum class Weight { kPasses, kFails, kUnweighed };
  Weight weight = Weight::kUnweighed;
  std::string fault;  // why it fails, or why it was not weighed
  // How far the weighing went before the fault: the card's word (1, its
  // FAT's and its directories'), a seam
  // nothing fixes (2), the joined bytes (3), their raw data (4). A piece's
  // line gives the fault of its reading that went furthest.
  int depth = 0;
  RawDataVerdict raw = RawDataVerdict::Unknown;
  std::int64_t brokenAt = -1;  // file offset near where the decode broke, when it did
  CrwEnd end;  // the joined file's own search, when it passes

  std::int64_t Gap() const { return secondFrom - (header + split); }
  // Its second piece lies at the card's start, before the first: the camera
  // went on there after the card's end.
  bool Wraps() const { return secondTo <= header; }
};

}  // namespace mendrake
