#pragma once

#include <cstdint>
#include <string>

namespace mendrake {

// A file written at any position, as a disk image is filled in whatever
// order its bytes come; bytes never written read as zeros and take no space
// where the file system keeps holes. Every failure throws FileError naming
// the file (OutputFullError when its disk is full).
class PositionedFile {
 public:
  enum class Open {
    kNew,       // a file of that name already there is refused, never replaced
    kExisting,  // an existing regular file, kept as it is, to be filled further
  };

  PositionedFile(const std::string& path, Open how);
  ~PositionedFile();
  PositionedFile(const PositionedFile&) = delete;
  PositionedFile& operator=(const PositionedFile&) = delete;

  void WriteAt(std::int64_t offset, const std::uint8_t* bytes, std::int64_t count);
  // Makes the file size bytes long; bytes past the old end read as zeros.
  void SetSize(std::int64_t size);
  std::int64_t Size() const;
  // Closes the file, reporting a late write failure (network and removable media).
  void Close();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  // The descriptor; on Windows the file handle.
  std::intptr_t file_ = -1;
};

}  // namespace mendrake
