#pragma once

#include <cstdint>
#include <string>

namespace mendrake {

// POSIX file access for the file image and the writers. Every failure throws
// FileError naming the file and the system's reason.

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;

  int get() const { return fd_; }
  // Closing can report a late write failure (network and removable media).
  int Close();

 private:
  int fd_;
};

// A regular file opened for reading, with its size.
struct OpenSource {
  Descriptor file;
  std::int64_t size;
};

// Opens an existing regular file smaller than 2 GiB, the most a file image holds.
OpenSource OpenForReading(const std::string& path);

// Reads exactly count bytes from the descriptor's current offset.
void ReadAll(int fd, std::uint8_t* buffer, std::int64_t count, const std::string& path);

// A new file that takes the place of path only when it is complete: it is
// written under a temporary name in path's folder (so the final rename stays on
// one file system) and renamed over path by Commit. Destroyed uncommitted, it
// removes the temporary file, so a failure leaves no partial file behind and
// any earlier file of that name intact.
class PendingFile {
 public:
  explicit PendingFile(std::string path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  void Write(const std::uint8_t* bytes, std::int64_t count);
  // Appends count bytes of source from offset on. The kernel copies them
  // without a pass through this process where the file systems allow it.
  void CopyFrom(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count);
  void Commit();

  const std::string& path() const { return path_; }

 private:
  void CopyThroughBuffer(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count);
  [[noreturn]] void ThrowWriteError(int error) const;

  std::string path_;
  std::string temporary_;
  Descriptor file_;
  bool committed_ = false;
};

// True when both names lead to one existing file (through links, or letter
// case on file systems that ignore it); false when either does not exist.
bool NameTheSameFile(const std::string& first, const std::string& second);

}  // namespace mendrake
