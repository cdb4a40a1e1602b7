#include "analysis/AnalysisState.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "files/MemoryCardReader.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "fuzz/Sandbox.h"
#include "recovery/CardRecovery.h"
#include "recovery/CrwValidation.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace mendrake::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

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

// A file joined from two pieces gap bytes apart is the card's bytes at at up
// to some split, then the card's bytes gap bytes further on: its prefix that
// matches at at and its suffix that matches at at + gap cover it.
bool TwoPiecesOfTheCard(const Bytes& file, const std::uint8_t* data, std::size_t size, std::size_t at,
                        std::size_t gap) {
  if (at > size || gap > size || file.size() > size - at || file.size() + gap > size - at) return false;
  std::size_t prefix = 0;
  while (prefix < file.size() && file[prefix] == data[at + prefix]) ++prefix;
  std::size_t suffix = 0;
  const std::size_t end = at + file.size() + gap;
  while (suffix < file.size() && file[file.size() - 1 - suffix] == data[end - 1 - suffix]) ++suffix;
  return prefix + suffix >= file.size();
}

// "joined from two pieces 12 clusters apart" (or "1 cluster apart"): the clusters, or -1.
long long ClustersApart(const std::string& line) {
  const std::string marker = ", joined from two pieces ";
  const std::size_t at = line.find(marker);
  if (at == std::string::npos || line.find("the card's FAT lists", at) != std::string::npos) return -1;
  return std::stoll(line.substr(at + marker.size()));
}

}  // namespace

void RecoverCardBytes(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox("card");
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
    if (const long long clusters = ClustersApart(line); clusters >= 0) {
      // Put together from two pieces of the card, on a grid of 512 bytes to 64 KiB.
      bool found = false;
      for (std::size_t cluster = 512; !found && cluster <= (64u << 10); cluster *= 2) {
        found = TwoPiecesOfTheCard(bytes, data, size, at, static_cast<std::size_t>(clusters) * cluster);
      }
      if (!found) Broken("a joined file is not two pieces of the card's bytes");
    } else if (line.find("the card's FAT lists") == std::string::npos &&
               (at > size || bytes.size() > size - at || !std::equal(bytes.begin(), bytes.end(), data + at))) {
      Broken("an output is not the card's bytes at its place");
    }
    if (file.extension() == ".CRW") CheckStandsAlone(file);
    ++named;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const fs::path& file = entry.path();
    // A CRW file's thumbnail, or the JPEG read out of a damaged piece.
    if (file.extension() == ".jpg" && !fs::exists(fs::path(file).replace_extension(".CRW")) &&
        !fs::exists(fs::path(file).replace_extension(".damaged"))) {
      Broken("a thumbnail without its CRW file or damaged piece");
    }
  }
  if (named < summary.recovered) Broken("a recovered file without its line");
}

}  // namespace mendrake::fuzz
