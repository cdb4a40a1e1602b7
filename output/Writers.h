#pragma once

#include "analysis/RepairContext.h"

#include <cstdint>
#include <string>

namespace mendrake {

// Both writers copy from the source only while it is the file analysed
// (CurrentFileIdentity). In automatic mode an output never replaces a file with
// other content: it goes under the first free "NAME (2).ext", ... with one log
// line. In interactive mode the chosen name is replaced.

// Writes the source cut to FFilesize, next to the source (automatic) or under a
// name derived from the one chosen in the save dialog. Throws FileError.
void WriteRepaired(RepairContext& context, const std::string& source, bool automatic);

// Writes length bytes from start of the source as a JPEG file, next to the
// source (automatic) or under the name chosen in the save dialog. Throws FileError.
void WriteThumbnail(RepairContext& context, const std::string& source, std::uint32_t start, std::uint32_t length,
                    bool automatic);

}  // namespace mendrake
