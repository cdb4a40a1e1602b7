#include "repair/SaveCommands.h"

#include "output/Writers.h"

namespace mendrake {
namespace {

// After a run whose last file failed its header check or its load, FFilesize
// and HLen still describe an earlier file while there is no file to save.
bool HasFileWithFoundSize(const AnalysisState& state) {
  return !state.CurrentFilename.empty() && SearchFoundSize(state);
}

}  // namespace

void actSaveExecute(RepairContext& context) {
  const AnalysisState& state = context.state;
  if (!HasFileWithFoundSize(state)) return;
  const std::string source = state.CurrentFilename;
  WriteRepaired(context, source, false);
}

void actSaveJPEGExecute(RepairContext& context) {
  const AnalysisState& state = context.state;
  if (!HasFileWithFoundSize(state) || !state.FoundJPEG || state.JPEGStart == 0 || state.JPEGSize == 0) return;
  const std::string source = state.CurrentFilename;
  WriteThumbnail(context, source, state.JPEGStart, state.JPEGSize, false);
}

}  // namespace mendrake
