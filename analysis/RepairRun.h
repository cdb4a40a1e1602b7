#pragma once

#include "analysis/RepairContext.h"

#include <string>
#include <vector>

namespace mendrake {

// Takes each chosen file through RepairFile; with two or more files writes the
// repaired copy and the thumbnail of each next to it; previews the thumbnail of
// the last file. Throws FileError when a file cannot be read or an output
// written, which ends the whole run.
void RepairRun(RepairContext& context, const std::vector<std::string>& paths);

}  // namespace mendrake
