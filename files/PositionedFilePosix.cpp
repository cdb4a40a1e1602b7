#include "files/PositionedFile.h"

#include "files/FileError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrake {
namespace {

[[noreturn]] void ThrowWriteError(const std::string& path, const std::string& what, int error) {
  if (error == ENOSPC || error == EDQUOT) throw OutputFullError(path, what + std::strerror(error));
  throw FileError(path, what + std::strerror(error));
}

}  // namespace

PositionedFile::PositionedFile(const std::string& path, Open how) : path_(path) {
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (how == Open::kNew ? O_CREAT | O_EXCL : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) throw FileError(path, "already exists, and is not replaced");
    throw FileError(path, std::string("cannot be opened for writing: ") + std::strerror(error));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw FileError(path, "is not a regular file");
  }
  file_ = fd;
}

PositionedFile::~PositionedFile() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
}

void PositionedFile::WriteAt(std::int64_t offset, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(static_cast<int>(file_), bytes + done, static_cast<std::size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowWriteError(path_, "cannot be written: ", errno);
    }
    done += n;
  }
}

void PositionedFile::SetSize(std::int64_t size) {
  if (::ftruncate(static_cast<int>(file_), size) != 0) ThrowWriteError(path_, "cannot be made longer: ", errno);
}

std::int64_t PositionedFile::Size() const {
  struct stat info {};
  return ::fstat(static_cast<int>(file_), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

void PositionedFile::Close() {
  const int fd = static_cast<int>(file_);
  file_ = -1;
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) ThrowWriteError(path_, "cannot be written: ", errno);
}

}  // namespace mendrake
