// Replays every committed fuzz input through its target's entry function, so
// that each input a fuzzer once found harmful stays harmless. The same entry
// functions run under libFuzzer in `make fuzz`; here they run in the ordinary
// and the sanitizer builds.
#include "fuzz/FuzzTargets.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;
using Target = void (*)(const std::uint8_t*, std::size_t);

std::vector<fs::path> CorpusFiles(const std::string& target) {
  const fs::path dir = fs::path(MENDRAKE_FUZZ_CORPUS_DIR) / target;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const std::string& target, Target entry) {
  const std::vector<fs::path> files = CorpusFiles(target);
  ASSERT_FALSE(files.empty()) << "no corpus for " << target;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const Bytes bytes = ReadFile(file.string());
    entry(bytes.data(), bytes.size());
  }
}

TEST(FuzzCorpus, AnalysisInputsAreHarmless) { Replay("analysis", fuzz::AnalyseFileBytes); }
TEST(FuzzCorpus, CardInputsAreHarmless) { Replay("card", fuzz::RecoverCardBytes); }
TEST(FuzzCorpus, CameraCardsGiveBackOnlyTheirPhotos) { Replay("camera_card", fuzz::RecoverCameraCardBytes); }
TEST(FuzzCorpus, PreviewInputsAreHarmless) { Replay("preview", fuzz::DecodePreviewBytes); }
TEST(FuzzCorpus, RawDataInputsAreHarmless) { Replay("raw_data", fuzz::CheckRawDataBytes); }
TEST(FuzzCorpus, OutputNameInputsKeepTheRules) { Replay("output_names", fuzz::CheckOutputNames); }
TEST(FuzzCorpus, MapfileInputsKeepTheRules) { Replay("mapfile", fuzz::ParseMapfileBytes); }

}  // namespace
}  // namespace mendrake::testing
