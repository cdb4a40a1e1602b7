#pragma once

#include "fuzz/Invariant.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace mendrake::fuzz {

// A folder of this process's own with one output folder in it, emptied
// before every input: anything beside the output folder was written outside
// it. In memory where the system has such a folder: every input writes and
// removes files.
class Sandbox {
 public:
  explicit Sandbox(const std::string& target) : root_(Parent() / ("mendrake-fuzz-" + target + "-" + std::to_string(::getpid()))) {}
  ~Sandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& Fresh() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(output_);
    return output_;
  }
  const std::filesystem::path& Output() const { return output_; }
  void CheckNothingOutside() const {
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(root_)) {
      if (entry.path() != output_) Broken("a file was written outside the output folder");
    }
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(output_)) {
      if (!entry.is_regular_file()) Broken("the output folder holds something other than files");
    }
  }

 private:
  static std::filesystem::path Parent() {
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                            : std::filesystem::temp_directory_path();
  }

  std::filesystem::path root_;
  std::filesystem::path output_ = root_ / "out";
};

}  // namespace mendrake::fuzz
