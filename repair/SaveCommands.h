#pragma once

#include "analysis/RepairContext.h"

namespace mendrake {

// "&Save": the repaired copy of the last file analysed, when its search found a size.
void actSaveExecute(RepairContext& context);
// "Save &JPEG": its thumbnail, when the search found a size and a thumbnail.
void actSaveJPEGExecute(RepairContext& context);

}  // namespace mendrake
