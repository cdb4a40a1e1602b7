#include "repair/RepairRun.h"

#include "analysis/FileImage.h"
#include "analysis/SizeSearch.h"
#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "output/Preview.h"
#include "output/Writers.h"

#include <algorithm>

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

// A run ended by an error names the files it did not come to, so that a user
// with hundreds of recovered files knows where to go on; ten names are enough
// to find the place.
constexpr std::size_t kMaxNamesNotProcessed = 10;

std::string FilesNotProcessedNote(const std::vector<std::string>& paths, std::size_t stoppedAt) {
  const std::size_t left = paths.size() - stoppedAt - 1;
  std::string note = "The run stopped at file " + std::to_string(stoppedAt + 1) + " of " + std::to_string(paths.size()) +
                     (left == 1 ? "; this file was not processed:" : "; these " + std::to_string(left) + " files were not processed:");
  const std::size_t named = std::min(left, kMaxNamesNotProcessed);
  for (std::size_t i = stoppedAt + 1; i <= stoppedAt + named; ++i) note += "\n  " + EscapeControlBytes(paths[i]);
  if (left > named) note += "\n  and " + std::to_string(left - named) + " more";
  return note;
}

}  // namespace

bool RepairFileOfRun(RepairContext& context, FileImage& image, const std::string& path) {
  // The hook refers to the context: it goes with this call, also on an error.
  struct LoadProgressScope {
    FileImage& image;
    ~LoadProgressScope() { image.SetLoadProgress({}); }
  } scope{image};
  image.SetLoadProgress([&context] {
    context.platform.ProcessEventsIfDue();
    return !context.state.Aborted;
  });
  return RepairFile(context, image, path);
}

RunOutcome RepairRun(RepairContext& context, const std::vector<std::string>& paths) {
  AnalysisState& state = context.state;
  // One image for the whole run; it and the cursor are given back also when
  // an error ends the run.
  FileImage image;
  const BusyCursor busy(context.platform);
  state.Aborted = false;
  context.log.Clear();

  RunOutcome outcome;
  const bool automatic = paths.size() >= 2;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    try {
      const bool passed = RepairFileOfRun(context, image, paths[i]);
      // A cancelled search has not settled on a size: nothing of that file is
      // written or shown. A cancel that came as the search succeeded still lets
      // the file that was reported repaired be written.
      const bool cancelled = state.Aborted && !SearchFoundSize(state);
      if (passed && !cancelled) {
        if (SearchFoundSize(state)) ++outcome.sizesFound;
        if (automatic) WriteOutputsBesideSource(context);
        if (i + 1 == paths.size() && HasPreviewableThumbnail(state)) ShowPreview(context, image);
      }
    } catch (const FileError& error) {
      if (i + 1 == paths.size()) throw;
      throw FileError(error.path(), error.reason(), FilesNotProcessedNote(paths, i));
    }
    if (state.Aborted) break;
  }
  return outcome;
}

}  // namespace mendrake
