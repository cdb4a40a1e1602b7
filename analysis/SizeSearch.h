#pragma once

#include "analysis/FileImage.h"
#include "analysis/RepairContext.h"

#include <cstdint>
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
// or HLen is reached, or the run is aborted.
struct SizeSearchOutcome {
  std::int64_t nextCandidate;  // the candidate it would have tried next
  bool found;                  // the candidate before it ended the search
};
SizeSearchOutcome SearchTrueSize(RepairContext& context, FileImage& image);

}  // namespace mendrake
