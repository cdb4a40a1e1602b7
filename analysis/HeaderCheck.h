#pragma once

#include "analysis/AnalysisState.h"
#include "analysis/FileImage.h"

namespace mendrake {

// The CRW header: byte order "II" or "MM" (bytes 0-1), header length (2-5, in
// that byte order, also the offset of the root heap) and "HEAPCCDR" (6-13).
// On true it has set BigEndian and HLen; on false it leaves them alone.
// The header length is not compared with the file size.
bool CheckHeader(AnalysisState& state, FileImage& image);

}  // namespace mendrake
