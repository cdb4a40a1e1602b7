#pragma once

#include <stdexcept>
#include <string>

namespace mendrake {

// A file that cannot be read or written. The message names the file and the
// system's reason, so whoever shows it needs nothing else.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, std::string reason)
      : std::runtime_error(Describe(path, reason)), path_(std::move(path)), reason_(std::move(reason)) {}

  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  static std::string Describe(const std::string& path, const std::string& reason) {
    return "\"" + path + "\": " + reason;
  }

  std::string path_;
  std::string reason_;
};

}  // namespace mendrake
