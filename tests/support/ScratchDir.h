#pragma once

#include "tests/support/CrwBuilder.h"

#include <string>

namespace mendrake::testing {

// A fresh folder for one test's files, removed with its content at the end.
// Test programs run in parallel, so no two tests share a file name.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes under name and returns the file's full path.
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::string path_;
};

}  // namespace mendrake::testing
