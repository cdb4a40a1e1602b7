#pragma once

#include "files/Utf8Path.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace mendrake::testing {

inline long ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<long>(::getpid());
#endif
}

// A fresh, empty folder for one test, named after it and removed afterwards.
// It lies in a folder of this process's own, so the same test run at once
// from another build or clone never shares it.
class ScratchFolder {
 public:
  ScratchFolder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::path(::testing::TempDir()) / ("mendrake-" + std::to_string(ProcessId()));
    path_ = root_ / (std::string(test->test_suite_name()) + "." + test->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    // The folders above it up to this process's own, each once it is empty
    // (a parameterized test's name holds slashes).
    for (std::filesystem::path folder = path_.parent_path(); folder.string().size() >= root_.string().size();
         folder = folder.parent_path()) {
      if (!std::filesystem::remove(folder, ignored)) break;
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string operator/(const std::string& name) const { return Utf8Of(path_ / PathFromUtf8(name)); }
  const std::filesystem::path& path() const { return path_; }
  // Writes bytes under name and returns the file's full path.
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string file = *this / name;
    WriteFile(file, bytes);
    return file;
  }
  // Names of everything in the folder, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(Utf8Of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path root_;
  std::filesystem::path path_;
};

}  // namespace mendrake::testing
