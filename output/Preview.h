#pragma once

#include "analysis/FileImage.h"
#include "analysis/RepairContext.h"

namespace mendrake {

// Decodes the thumbnail at JPEGStart of the run's image and shows it in the
// picture view; failures are reported in the log only.
void ShowPreview(RepairContext& context, FileImage& image);

}  // namespace mendrake
