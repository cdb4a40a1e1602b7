#pragma once

#include "analysis/FileImage.h"
#include "analysis/RepairContext.h"
#include "analysis/WalkLimits.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mendrake {

// Loads the file at path into image, checks its header and finds its true size
// by walking the root heap at every candidate size from the file's size down,
// until a candidate that ends its root heap has a walk that met the make/model,
// sensor information, decoder table and raw data records. Reports in the log and leaves the result in the state.
// Returns true when the file passed the header check. Throws FileError when the
// file cannot be read.
bool RepairFile(RepairContext& context, FileImage& image, const std::string& path);

// What RepairFile does once the file is loaded, on an image that already holds
// it: the same lines and the same state as RepairFile for that path. Lets
// fuzzing and in-memory tests analyse bytes without a file.
bool RepairLoadedImage(RepairContext& context, FileImage& image, const std::string& path);

// The search step of RepairFile on an image that passed the header check, with
// the found flags reset: tries every candidate size from the image's size down
// until one ends its root heap and its own walk met all the required records,
// or HLen is reached, or the run is aborted. When it found a size, the
// thumbnail in the state (JPEGStart, JPEGSize, FoundJPEG) is the one met by the
// walk that succeeded, or none: a stray thumbnail record in the bytes after a
// file, met by the walk of a longer candidate, is not the file's.
struct SizeSearchOutcome {
  std::int64_t nextCandidate;  // the candidate it would have tried next
  bool found;                  // the candidate before it ended the search
  std::int64_t entriesVisited = 0;
  bool budgetSpent = false;  // ended because its entries were spent
};
SizeSearchOutcome SearchTrueSize(RepairContext& context, FileImage& image);

// A search over part of the candidates, with a share of the work, for a
// caller that searches many pieces of bytes (a card scan).
struct SizeSearchBounds {
  std::int64_t highest = 0;  // the first candidate tried (at most the image's size)
  std::int64_t lowest = 0;   // candidates above this one only (at least HLen)
  // Directory entries all the walks may visit; the search ends when they are
  // spent, since no walk can succeed after that.
  std::int64_t maxEntries = WalkLimits::kMaxEntriesPerFile;
  // Asked about a candidate that ends its root heap and whose walk met the
  // four records; when it says no, the search goes on below it.
  std::function<bool(std::int64_t candidate)> accept;
};
SizeSearchOutcome SearchTrueSize(RepairContext& context, FileImage& image, const SizeSearchBounds& bounds);

}  // namespace mendrake
