#pragma once

#include "analysis/FileImage.h"
#include "recovery/CrwEnd.h"

namespace mendrake {

// Pairs a header with the end of its own contiguous file first. Cameras
// write many files of one size, so a later end may line up with a header as
// well as its own does: the second piece of a file whose first piece was as
// long as this one. The size search takes the last end it can walk (a trailer
// may follow a heap); when an earlier end of the header's own heap walks too
// and the later one is no trailer of it (a trailer repeats the heap's
// pointer), the earlier one is the file's and the later one is left to the
// file it belongs to. A trailer holds no file of its own: where a file that
// cameras write begins at a sector start before the later end (the photo's
// THM, say, whose end marker and slack read as the pointer), the bytes are
// the card's, not the photo's. scratch is reused
// as FindCrwEnd's. The searches of earlier ends visit at most maxEntries
// directory entries together; the result's entriesVisited counts found's
// and theirs.
CrwEnd OwnEnd(const FileImage& window, const CrwEnd& found, FileImage& scratch, std::int64_t maxEntries);

}  // namespace mendrake
