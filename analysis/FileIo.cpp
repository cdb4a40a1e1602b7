#include "analysis/FileIo.h"

#include "analysis/FileError.h"
#include "analysis/FileImage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrake {
namespace {

std::string SystemReason(int error) { return std::strerror(error); }

// A name beside the target, unique to this process and attempt.
std::string TemporaryNameFor(const std::string& path, unsigned attempt) {
  return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
}

int CreateBeside(const std::string& path, std::string& temporary) {
  if (path.empty()) throw FileError(path, "no file name was given");
  for (unsigned attempt = 0;; ++attempt) {
    temporary = TemporaryNameFor(path, attempt);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt > 100) throw FileError(path, "cannot create the file: " + SystemReason(errno));
  }
}

// copy_file_range refuses these pairs of files (other file systems, old
// kernels); an ordinary read and write does the same job.
bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

// Errors that a full or limited destination gives.
bool IsWriteError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

}  // namespace

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int Descriptor::Close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result;
}

OpenSource OpenForReading(const std::string& path) {
  if (path.empty()) throw FileError(path, "no file name was given");
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw FileError(path, "cannot open the file: " + SystemReason(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw FileError(path, "cannot read the file: " + SystemReason(errno));
  if (S_ISDIR(info.st_mode)) throw FileError(path, "this is a folder, not a file");
  if (!S_ISREG(info.st_mode)) throw FileError(path, "this is not a regular file");
  if (info.st_size > FileImage::kMaxSize) {
    throw FileError(path, "the file is 2 GiB or larger, which is more than Mendrake can hold");
  }
  return OpenSource{std::move(file), static_cast<std::int64_t>(info.st_size)};
}

void ReadAll(int fd, std::uint8_t* buffer, std::int64_t count, const std::string& path) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, buffer + done, static_cast<std::size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(path, "cannot read the file: " + SystemReason(errno));
    }
    if (n == 0) throw FileError(path, "the file became shorter while it was being read");
    done += n;
  }
}

PendingFile::PendingFile(std::string path) : path_(std::move(path)), file_(CreateBeside(path_, temporary_)) {}

PendingFile::~PendingFile() {
  if (!committed_) ::unlink(temporary_.c_str());
}

void PendingFile::Write(const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(file_.get(), bytes + done, static_cast<std::size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowWriteError(errno);
    }
    done += n;
  }
}

void PendingFile::CopyFrom(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count) {
  off_t from = offset;
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n =
        ::copy_file_range(sourceFd, &from, file_.get(), nullptr, static_cast<std::size_t>(count - done), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (KernelCopyUnsupported(errno)) return CopyThroughBuffer(sourceFd, sourcePath, from, count - done);
      if (IsWriteError(errno)) ThrowWriteError(errno);
      throw FileError(path_, "cannot copy \"" + sourcePath + "\" into the file: " + SystemReason(errno));
    }
    if (n == 0) throw FileError(sourcePath, "the file became shorter while it was being read");
    done += n;
  }
}

void PendingFile::CopyThroughBuffer(int sourceFd, const std::string& sourcePath, std::int64_t offset,
                                    std::int64_t count) {
  constexpr std::int64_t kChunk = 1 << 20;
  const std::int64_t bufferSize = count < kChunk ? count : kChunk;
  const auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(bufferSize));
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t want = count - done < bufferSize ? count - done : bufferSize;
    const ssize_t n = ::pread(sourceFd, buffer.get(), static_cast<std::size_t>(want), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(sourcePath, "cannot read the file: " + SystemReason(errno));
    }
    if (n == 0) throw FileError(sourcePath, "the file became shorter while it was being read");
    Write(buffer.get(), n);
    done += n;
  }
}

void PendingFile::Commit() {
  if (file_.Close() != 0) ThrowWriteError(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    throw FileError(path_, "cannot replace the file: " + SystemReason(errno));
  }
  committed_ = true;
}

void PendingFile::ThrowWriteError(int error) const {
  throw FileError(path_, "cannot write the file: " + SystemReason(error));
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  if (first.empty() || second.empty()) return false;
  if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace mendrake
