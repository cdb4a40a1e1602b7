#pragma once

#include <filesystem>
#include <string>

namespace mendrake::testing {

// The real camera file kept beside the repository (shared/samples). A clone on
// its own has no such folder: tests that need the file skip instead of failing.
inline std::string CameraSamplePath() {
  const std::string path = std::string(MENDRAKE_SAMPLES_DIR) + "/CanonRaw.crw";
  return std::filesystem::exists(path) ? path : std::string();
}

}  // namespace mendrake::testing

// Skips the calling test when the real sample is not there.
#define MENDRAKE_REQUIRE_SAMPLE(path)                                                         \
  const std::string path = ::mendrake::testing::CameraSamplePath();                          \
  if (path.empty()) GTEST_SKIP() << "the sample " MENDRAKE_SAMPLES_DIR "/CanonRaw.crw is absent"
