#include "analysis/AnalysisState.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "files/MemoryCardReader.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "recovery/CardRecovery.h"
#include "recovery/CrwValidation.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace mendrake::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A folder of this process's own with one output folder in it, emptied
// before every input: anything beside the output folder was written outside
// it. In memory where the system has such a folder: every input writes and
// removes files.
fs::path SandboxParent() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

class Sandbox {
 public:
  Sandbox() : root_(SandboxParent() / ("mendrake-fuzz-card-" + std::to_string(::getpid()))) {}
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& Fresh() {
    fs::remove_all(root_);
    fs::create_directories(output_);
    return output_;
  }
  void CheckNothingOutside() const {
    for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
      if (entry.path() != output_) Broken("a file was written outside the output folder");
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(output_)) {
      if (!entry.is_regular_file()) Broken("the output folder holds something other than files");
    }
  }

 private:
  fs::path root_;
  fs::path output_ = root_ / "out";
};

Bytes ReadWhole(const fs::path& path) {
  FileImage image;
  image.LoadFromFile(path.string());
  return Bytes(image.Data(), image.Data() + image.Size());
}

// What `crwlog NAME.CRW` makes of a recovered file: found at its own size,
// repaired, and standing alone by the validation that let it be written.
void CheckStandsAlone(const fs::path& path) {
  FileImage image;
  image.LoadFromFile(path.string());
  AnalysisState state;
  LogLines lines;
  HeadlessPlatform platform;
  RepairContext context{state, lines, platform};
  if (!RepairLoadedImage(context, image, path.string())) Broken("a recovered CRW file fails its header check");
  if (state.FFilesize != image.Size()) Broken("a recovered CRW file's own repair finds another size");
  if (lines.Lines().empty() || lines.Lines().back() != "Successfully repaired file.") {
    Broken("a recovered CRW file is not repaired by itself");
  }
  const std::span<const std::uint8_t> bytes(image.Data(), static_cast<std::size_t>(image.Size()));
  if (!ValidateRecoveredCrw(bytes, state.BigEndian, state.HLen).ok) Broken("a recovered CRW file does not stand alone");
}

}  // namespace

void RecoverCardBytes(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  const fs::path& folder = sandbox.Fresh();
  MemoryCardReader card({data, size});
  LogLines log;
  const RecoverySummary summary = RecoverCard(card, folder.string(), log);

  sandbox.CheckNothingOutside();
  // The work a card may cause is bounded by its size, whatever it holds.
  const std::int64_t budget = RecoveryLimits::kMaxEntriesPerWindow +
                              static_cast<std::int64_t>(size) / RecoveryLimits::kCardBytesPerEntry;
  if (summary.entriesVisited > budget) Broken("the searches walked past the card's work budget");
  if (log.Lines().empty() || log.Lines().back() != RecoverySummaryLine(summary)) {
    Broken("the summary is not the last line");
  }
  if (summary.damaged - summary.damagedNotWritten > RecoveryLimits::kMaxDamagedFiles) Broken("too many damaged pieces");

  // Every file a line names ("At N: NAME, ...") is the card's bytes from N
  // on, cut out, never made up; every other file is the thumbnail of one.
  int named = 0;
  for (const std::string& line : log.Lines()) {
    if (!line.starts_with("At ")) continue;
    const std::size_t colon = line.find(": ");
    const std::size_t comma = line.find(", ", colon);
    if (colon == std::string::npos || comma == std::string::npos) continue;
    const fs::path file = folder / line.substr(colon + 2, comma - colon - 2);
    if (!fs::is_regular_file(file)) continue;
    const std::size_t at = std::stoull(line.substr(3, colon - 3));
    const Bytes bytes = ReadWhole(file);
    if (at > size || bytes.size() > size - at || !std::equal(bytes.begin(), bytes.end(), data + at)) {
      Broken("an output is not the card's bytes at its place");
    }
    if (file.extension() == ".CRW") CheckStandsAlone(file);
    ++named;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const fs::path& file = entry.path();
    if (file.extension() == ".jpg" && !fs::exists(fs::path(file).replace_extension(".CRW"))) {
      Broken("a thumbnail without its CRW file");
    }
  }
  if (named < summary.recovered) Broken("a recovered file without its line");
}

}  // namespace mendrake::fuzz
