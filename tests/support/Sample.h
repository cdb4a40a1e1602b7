#pragma once

#include <filesystem>
#include <string>

namespace mendrake::testing {

// A real camera file kept with the tests (tests/data, see its README for where
// it comes from and its licence), so the tests that read it run in every clone.
inline std::string CameraSamplePath() { return std::string(MENDRAKE_SAMPLES_DIR) + "/CanonRaw.crw"; }

}  // namespace mendrake::testing

// The sample's path; the calling test fails when the file is missing.
#define MENDRAKE_REQUIRE_SAMPLE(path)                               \
  const std::string path = ::mendrake::testing::CameraSamplePath(); \
  ASSERT_TRUE(std::filesystem::exists(path)) << "the test data " << path << " is missing"
