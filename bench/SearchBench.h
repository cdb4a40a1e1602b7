#pragma once

// The size search over a 7 MiB camera file with 64 MiB of junk after its end,
// shared by the headless benchmark and the one through the window's platform.
#include "analysis/FileImage.h"
#include "analysis/HeaderCheck.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "tests/support/CrwBuilder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace mendrake::bench {

using mendrake::testing::JunkKind;

constexpr std::size_t kCameraFileSize = 7 * 1024 * 1024;
constexpr std::size_t kJunkSize = 64 * 1024 * 1024;

// A camera-like file of kCameraFileSize bytes with kJunkSize bytes of junk,
// written once per junk kind into a folder that lives as long as the program.
class BenchFiles {
 public:
  BenchFiles() {
    const char* dir = std::getenv("MENDRAKE_BENCH_DIR");
    folder_ = dir ? std::filesystem::path(dir)
                  : std::filesystem::temp_directory_path() / ("mendrake-bench-" + std::to_string(::getpid()));
    owned_ = dir == nullptr;
    std::filesystem::create_directories(folder_);
  }
  ~BenchFiles() {
    std::error_code ignored;
    if (owned_) std::filesystem::remove_all(folder_, ignored);
  }

  const std::string& Path(JunkKind kind) {
    std::string& path = paths_[static_cast<int>(kind)];
    if (path.empty()) {
      testing::CameraFileOptions options;
      options.rawDataSize = 1;
      options.rawDataSize = kCameraFileSize - (testing::MakeCameraFile(options).size() - 1);
      testing::Bytes file = testing::MakeCameraFile(options);
      testing::AppendJunk(file, kind, kJunkSize);
      path = (folder_ / ("search-" + std::to_string(static_cast<int>(kind)) + ".crw")).string();
      testing::WriteFile(path, file);
    }
    return path;
  }

 private:
  std::filesystem::path folder_;
  bool owned_ = false;
  std::string paths_[4];
};

inline BenchFiles& Files() {
  static BenchFiles files;
  return files;
}

inline void ReportCandidates(benchmark::State& run, std::int64_t candidates) {
  run.counters["candidates"] = benchmark::Counter(static_cast<double>(candidates));
  run.counters["candidates/s"] = benchmark::Counter(static_cast<double>(candidates), benchmark::Counter::kIsIterationInvariantRate);
  // Seconds per candidate, shown with an SI prefix (e.g. 2.1ns).
  run.counters["per candidate"] = benchmark::Counter(static_cast<double>(candidates),
                                                    benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The search alone, on an image loaded once, through the given platform's
// event processing.
inline void SizeSearch(benchmark::State& run, JunkKind junk, Platform& platform) {
  FileImage image;
  image.LoadFromFile(Files().Path(junk));
  std::int64_t candidates = 0;
  for (auto _ : run) {
    AnalysisState state;
    LogLines log;
    RepairContext context{state, log, platform};
    if (!CheckHeader(state, image)) {
      run.SkipWithError("the bench file fails the header check");
      return;
    }
    const std::int64_t next = SearchTrueSize(context, image).nextCandidate;
    candidates = image.Size() - next;
    if (next + 1 != static_cast<std::int64_t>(kCameraFileSize)) {
      run.SkipWithError("the search did not find the camera file's size");
      return;
    }
  }
  ReportCandidates(run, candidates);
}

// RepairFile as the run calls it: load, header check, search, report.
inline void WholeRepairFile(benchmark::State& run, JunkKind junk, Platform& platform) {
  const std::string& path = Files().Path(junk);
  FileImage image;
  std::int64_t candidates = 0;
  for (auto _ : run) {
    AnalysisState state;
    LogLines log;
    RepairContext context{state, log, platform};
    RepairFile(context, image, path);
    candidates = image.Size() - state.FFilesize + 1;
  }
  ReportCandidates(run, candidates);
}

inline void LoadFromFile(benchmark::State& run, JunkKind junk) {
  const std::string& path = Files().Path(junk);
  for (auto _ : run) {
    FileImage image;
    image.LoadFromFile(path);
    benchmark::DoNotOptimize(image.Data());
  }
  run.SetBytesProcessed(static_cast<std::int64_t>(run.iterations()) * static_cast<std::int64_t>(kCameraFileSize + kJunkSize));
}

}  // namespace mendrake::bench
