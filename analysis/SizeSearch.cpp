#include "analysis/SizeSearch.h"

#include "analysis/CandidateFeed.h"
#include "files/ControlBytes.h"
#include "analysis/HeaderCheck.h"
#include "analysis/HeapWalker.h"
#include "analysis/RootHeapEnd.h"

#include <algorithm>

namespace mendrake {
namespace {

void ResetForFile(AnalysisState& state) {
  state.CurrentFilename.clear();
  state.CurrentFileIdentity = {};
  state.JPEGStart = 0;
  state.FoundName = false;
  state.FoundJPEG = false;
  state.FoundDATA = false;
  state.FoundTable = false;
  state.FoundSize = false;
}

// What the walk that ended a search met is the file's thumbnail; nothing
// else the search met speaks for it.
void KeepThumbnailOf(const HeapWalker::WalkThumbnail& walk, AnalysisState& state) {
  state.FoundJPEG = walk.met;
  state.JPEGStart = walk.met ? walk.start : 0;
  if (walk.met) state.JPEGSize = walk.size;
}

// The search over candidates from highest down to lowest + 1. A whole file's
// search walks on once its entries are spent, so that it reports as it
// always did; a search of a share ends there.
SizeSearchOutcome Search(RepairContext& context, FileImage& image, const SizeSearchBounds& bounds, bool endWhenSpent) {
  AnalysisState& state = context.state;
  Platform& platform = context.platform;
  HeapWalker walker(context, image, bounds.maxEntries);
  const std::int64_t rootStart = state.HLen;
  const std::int64_t lowest = std::max<std::int64_t>(bounds.lowest, rootStart);
  std::int64_t candidate = std::min(bounds.highest, image.Size());
  CandidateFeed scan(image, rootStart, state.BigEndian, candidate);
  bool found = false;
  // Every walk resets FFilesize, so a Save invoked during the search does nothing.
  if (lowest < candidate) state.FFilesize = 0;

  while (!found && lowest < candidate && !state.Aborted && !(endWhenSpent && walker.BudgetExhausted())) {
    // Candidates that fail before their directory's first entry change
    // nothing, so they are passed over in a stretch and told to the platform
    // together; a stretch is no longer than the platform counts between two
    // looks at its clock, and Aborted is tested again after each.
    const std::int64_t stretchEnd =
        std::max(lowest + 1, candidate - std::int64_t{Platform::kWorkUnitsPerClockCheck} + 1);
    const CandidateHit hit = scan.FirstPlausible(candidate, stretchEnd);
    if (hit.candidate < candidate) {
      platform.NoteWork(static_cast<std::uint32_t>(candidate - hit.candidate));
      candidate = hit.candidate;
      if (hit.candidate < stretchEnd || state.Aborted) continue;
    }
    // A size is found only where one walk met all four records and the
    // candidate ends its root heap. Flags gathered over many walks prove
    // nothing: across millions of chance walks through junk every record turns
    // up sooner or later. And one walk may be led by a chance pointer through
    // garbage entries into the real directory; such a pointer hardly ever also
    // sits where that directory ends. Every walk still runs, for its lines
    // and the state's flags.
    const bool endsHeap = CandidateEndsRootHeap(image, candidate, hit.directory, state.BigEndian);
    const bool metAll = walker.WalkRoot(candidate, hit.directory);
    found = endsHeap && metAll && (!bounds.accept || bounds.accept(candidate));
    --candidate;
    platform.NoteWork();
  }
  if (found) KeepThumbnailOf(walker.LastWalkThumbnail(), state);
  return {candidate, found, walker.EntriesVisited(), walker.BudgetExhausted() && !found};
}

}  // namespace

SizeSearchOutcome SearchTrueSize(RepairContext& context, FileImage& image) {
  SizeSearchBounds whole;
  whole.highest = image.Size();
  whole.lowest = context.state.HLen;
  return Search(context, image, whole, false);
}

SizeSearchOutcome SearchTrueSize(RepairContext& context, FileImage& image, const SizeSearchBounds& bounds) {
  return Search(context, image, bounds, true);
}

namespace {

// RepairFile after its reset and load.
bool AnalyseLoadedImage(RepairContext& context, FileImage& image, const std::string& path) {
  AnalysisState& state = context.state;
  context.log.Append("Repairing file " + EscapeControlBytes(path));
  if (!CheckHeader(state, image)) {
    context.log.Append("The file is not a valid CRW file.");
    return false;
  }
  state.CurrentFilename = path;

  const SizeSearchOutcome outcome = SearchTrueSize(context, image);
  const std::int64_t nextCandidate = outcome.nextCandidate;
  const bool cancelled = state.Aborted && !outcome.found && state.HLen < nextCandidate;
  if (cancelled) {
    // A cancelled search found nothing: leave the value that says so, so that
    // neither the run nor the Save commands write a copy at an arbitrary size.
    state.FFilesize = std::int64_t{state.HLen} + 1;
    context.log.Append("Search cancelled at size " + std::to_string(nextCandidate + 1) + "; the file was not repaired.");
    return true;
  }

  // The last candidate tried: the true size when the search succeeded.
  state.FFilesize = nextCandidate + 1;
  context.log.Append("Found filesize as: " + std::to_string(state.FFilesize));
  context.log.Append("Old filesize was:  " + std::to_string(image.Size()));
  if (SearchFoundSize(state)) context.log.Append("Successfully repaired file.");
  return true;
}

}  // namespace

bool RepairFile(RepairContext& context, FileImage& image, const std::string& path) {
  // Reset before the load, so a file that cannot be read leaves no stale results.
  ResetForFile(context.state);
  image.LoadFromFile(path);
  // The writers copy from the source only while it is still this file.
  context.state.CurrentFileIdentity = image.SourceIdentity();
  return AnalyseLoadedImage(context, image, path);
}

bool RepairLoadedImage(RepairContext& context, FileImage& image, const std::string& path) {
  ResetForFile(context.state);
  return AnalyseLoadedImage(context, image, path);
}

}  // namespace mendrake
