#include "analysis/AnalysisState.h"
#include "analysis/CandidateFeed.h"
#include "analysis/CandidateScan.h"
#include "analysis/FileImage.h"
#include "analysis/HeapWalker.h"
#include "analysis/LogBox.h"
#include "analysis/RootHeapEnd.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "analysis/WalkLimits.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"

#include <algorithm>
#include <string>

namespace mendrake::fuzz {
namespace {

constexpr const char* kPath = "/fuzz/input.crw";

// Counts the lines instead of keeping them, and checks that no walk can make
// the log grow without bound or a line grow past the longest name shown.
class CheckingLog : public LogBox {
 public:
  // "Repairing file", then "not valid" or the three report lines (or the
  // cancelled line), plus the walks' capped lines and their omission line.
  static constexpr long kMaxLines = WalkLimits::kMaxLogLinesPerFile + 1 + 5;
  // "Model: ", up to three UTF-8 bytes per shown byte, and the ellipsis.
  static constexpr std::size_t kMaxWalkLine = 7 + 3 * WalkLimits::kMaxNameShown + 3;

  void Clear() override { lines_ = 0; }
  void Append(std::string_view line) override {
    if (++lines_ > kMaxLines) Broken("the log of one file passed its cap");
    if (line.size() > kMaxWalkLine + std::string_view(kPath).size()) Broken("a log line is longer than any name shown");
  }
  long Lines() const { return lines_; }

 private:
  long lines_ = 0;
};

// The candidate scan, and the feed that runs it on helper threads, must find
// what trying every candidate in turn finds. The windows vary in width, so that
// hits fall at every place of a stride; the feed's blocks are small and soon
// crowded, so that answers come from helpers and from the calling thread.
void CheckCandidateScan(const FileImage& image, std::int64_t rootStart, bool bigEndian) {
  const RootCandidateScan scan(image, rootStart, bigEndian);
  CandidateFeed feed(image, rootStart, bigEndian, image.Size(),
                     {.blockSize = 97, .helpers = 2, .helpFrom = 0, .maxHitsPerBlock = 5});
  std::int64_t highest = image.Size();
  while (highest > rootStart) {
    const std::int64_t lowest = std::max(rootStart + 1, highest - highest % 700);
    const CandidateHit hit = scan.FirstPlausible(highest, lowest);
    std::int64_t candidate = highest;
    std::int64_t directory = -1;
    for (; candidate >= lowest; --candidate) {
      directory = PlausibleRootDirectory(image, rootStart, candidate, bigEndian);
      if (directory >= 0) break;
    }
    if (hit.candidate != candidate || (candidate >= lowest && hit.directory != directory)) {
      Broken("the candidate scan differs from trying each candidate in turn");
    }
    const CandidateHit fed = feed.FirstPlausible(highest, lowest);
    if (fed.candidate != hit.candidate || fed.directory != hit.directory) {
      Broken("the candidate feed differs from the candidate scan");
    }
    highest = candidate - 1;
  }
}

}  // namespace

void AnalyseFileBytes(const std::uint8_t* data, std::size_t size) {
  FileImage image;
  image.Assign(data, static_cast<std::int64_t>(size));
  AnalysisState state;
  CheckingLog log;
  HeadlessPlatform platform;
  RepairContext context{state, log, platform};

  const bool isCrw = RepairLoadedImage(context, image, kPath);
  if (!isCrw) {
    if (log.Lines() != 2) Broken("a rejected file logs other than two lines");
    if (!state.CurrentFilename.empty()) Broken("a rejected file is kept as the current file");
    return;
  }
  if (image.Size() != static_cast<std::int64_t>(size)) Broken("the search changed the image");
  const std::int64_t lowest = std::int64_t{state.HLen} + 1;
  if (state.FFilesize < lowest && state.FFilesize != image.Size() + 1) Broken("found size below the root heap");
  if (state.FFilesize > image.Size() + 1) Broken("found size beyond the file");
  if (SearchFoundSize(state) && !AllRequiredRecordsFound(state)) Broken("a size found without the required records");
  if (SearchFoundSize(state) &&
      !CandidateEndsRootHeap(image, state.FFilesize,
                             PlausibleRootDirectory(image, state.HLen, state.FFilesize, state.BigEndian),
                             state.BigEndian)) {
    Broken("a size found that does not end its root heap");
  }
  if (state.FoundJPEG && (state.JPEGStart <= 14 || state.JPEGStart >= image.Size())) Broken("thumbnail outside the file");
  CheckCandidateScan(image, state.HLen, state.BigEndian);
}

}  // namespace mendrake::fuzz
