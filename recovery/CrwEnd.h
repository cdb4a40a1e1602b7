#pragma once

#include "analysis/FileImage.h"
#include "analysis/WalkLimits.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mendrake {

// What the heap walk made of the bytes from one header on.
struct CrwEnd {
  bool isCrw = false;         // the header check passed
  std::int64_t trueSize = 0;  // 0 when no true end lies in the window
  // From the walk of the file alone at its true size: its thumbnail (size 0:
  // none) and its make and model.
  std::uint32_t thumbnailStart = 0;
  std::uint32_t thumbnailSize = 0;
  std::string makeAndModel;
  std::uint32_t fileNumber = 0;  // 0 when the file holds no file number record
  // Why no true end was taken, when trueSize is 0, for the damaged line.
  std::string whyNot;
  // Directory entries the searches visited, out of maxEntries.
  std::int64_t entriesVisited = 0;
};

// Where the CRW file at the start of window ends. A carver that looks for a
// footer guesses from two bytes ("0A 30" and a few more) that any raw data or
// the next file may hold, so it cuts files short or keeps what follows. We
// walk the CIFF heap instead: the end is where a root heap whose directory
// holds every required record ends, which no junk after it can fake; and an
// end is taken only when the bytes up to it, written alone, pass their own
// repair (CrwValidation.h), so that no record it lists lies past the cut.
// The searches visit at most maxEntries directory entries together.
// scratch holds the copy of a candidate file for its own repair; it is reused
// window after window so that its room is allocated once.
CrwEnd FindCrwEnd(FileImage& window, FileImage& scratch, std::int64_t maxEntries = WalkLimits::kMaxEntriesPerFile);

// The first size from `from` on, counted from the header, at which a root
// directory of 1 to kMaxDirectoryEntries entries ends exactly where its
// pointer begins, or -1. A camera file's heap ends so, and every end the size
// search takes lies at such a size or at most a trailer's length past one
// (RootHeapEnd.h); in random bytes a position passes with a chance of about 1
// in 10^11.
std::int64_t NextClosedRootEnd(const FileImage& window, bool bigEndian, std::uint32_t headerLength, std::int64_t from);

}  // namespace mendrake
