#pragma once

#include "files/ControlBytes.h"

#include <stdexcept>
#include <string>

namespace mendrake {

// A file that cannot be read or written. The message names the file and the
// system's reason, so whoever shows it needs nothing else; control bytes of a
// name are shown escaped. When the error ended a run, the note says what the
// run left undone.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, std::string reason, std::string note = {})
      : std::runtime_error(Describe(path, reason, note)),
        path_(std::move(path)),
        reason_(std::move(reason)),
        note_(std::move(note)) {}

  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }
  // Lines of their own, names escaped already; empty when there is nothing to add.
  const std::string& note() const { return note_; }

 private:
  static std::string Describe(const std::string& path, const std::string& reason, const std::string& note) {
    std::string message = EscapeControlBytes("\"" + path + "\": " + reason);
    if (!note.empty()) message += "\n" + note;
    return message;
  }

  std::string path_;
  std::string reason_;
  std::string note_;
};

// A file that cannot be written because its destination is full: no space
// left, or the user's quota reached. Whatever is written there next fails the
// same way, so a run of many files stops at the first.
class OutputFullError : public FileError {
 public:
  using FileError::FileError;
};

}  // namespace mendrake
