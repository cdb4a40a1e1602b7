#pragma once

#include "analysis/FileImage.h"
#include "analysis/RepairContext.h"

#include <cstddef>
#include <string>
#include <vector>

namespace mendrake {

// What a run leaves for a caller that reports it, such as crwlog's exit status.
struct RunOutcome {
  // Files that passed the header check and whose true size was found; a file
  // whose search was cancelled before it found a size does not count.
  std::size_t sizesFound = 0;
};

// Takes each chosen file through RepairFile; with two or more files writes the
// repaired copy and the thumbnail of each next to it; previews the thumbnail of
// the last file. Throws FileError when a file cannot be read or an output
// written, which ends the whole run; its note then names the files that the run
// did not come to.
RunOutcome RepairRun(RepairContext& context, const std::vector<std::string>& paths);

// RepairFile for one file of a run, with the window kept alive while a large
// file loads (Cancel stops the load as it stops the search).
bool RepairFileOfRun(RepairContext& context, FileImage& image, const std::string& path);

}  // namespace mendrake
