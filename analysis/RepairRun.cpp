#include "analysis/RepairRun.h"

#include "analysis/FileImage.h"
#include "analysis/SizeSearch.h"
#include "output/Preview.h"
#include "output/Writers.h"

namespace mendrake {
namespace {

// A multi-file run saves both outputs next to the source without asking. The
// thumbnail is worth having even from a file whose true size was not found.
void WriteOutputsBesideSource(RepairContext& context) {
  const AnalysisState& state = context.state;
  const std::string source = state.CurrentFilename;
  if (SearchFoundSize(state)) WriteRepaired(context, source, true);
  if (state.FoundJPEG) WriteThumbnail(context, source, state.JPEGStart, state.JPEGSize, true);
}

bool HasPreviewableThumbnail(const AnalysisState& state) {
  return SearchFoundSize(state) && state.JPEGStart > 0 && state.FoundJPEG;
}

}  // namespace

void RepairRun(RepairContext& context, const std::vector<std::string>& paths) {
  AnalysisState& state = context.state;
  // One image for the whole run; it and the cursor are given back also when
  // an error ends the run.
  FileImage image;
  const BusyCursor busy(context.platform);
  state.Aborted = false;
  context.log.Clear();

  const bool automatic = paths.size() >= 2;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const bool passed = RepairFile(context, image, paths[i]);
    // A cancelled search has not settled on a size: nothing of that file is
    // written or shown. A cancel that came as the search succeeded still lets
    // the file that was reported repaired be written.
    const bool cancelled = state.Aborted && !SearchFoundSize(state);
    if (passed && !cancelled) {
      if (automatic) WriteOutputsBesideSource(context);
      if (i + 1 == paths.size() && HasPreviewableThumbnail(state)) ShowPreview(context, image);
    }
    if (state.Aborted) break;
  }
}

}  // namespace mendrake
