// The file layer on POSIX systems (Linux).
#include "files/FileIo.h"

#include "files/FileError.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrake {
namespace {

std::string SystemReason(int error) { return std::strerror(error); }

// A full destination (no space left, the user's quota reached) is an error of
// its own: every file written after it fails the same way.
[[noreturn]] void ThrowOutputError(const std::string& path, const std::string& what, int error) {
  if (error == ENOSPC || error == EDQUOT) throw OutputFullError(path, what + SystemReason(error));
  throw FileError(path, what + SystemReason(error));
}

// Opening a FIFO or a terminal for reading can wait for a writer or a
// carrier; without blocking it returns at once, and fstat tells what it is.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

FileIdentity IdentityOf(const struct stat& info) {
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                      static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
                      static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A short name of fixed length, so that a temporary name fits wherever the
// target's name does.
std::string TemporaryNameIn(const std::string& folder) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    const auto mixed = static_cast<unsigned long>(::getpid()) * 2654435761u ^
                       static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (std::size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(mixed >> (8 * i));
  }
  std::string name = folder + "/.mendrake-";
  for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

// Creates a new file under a temporary name in folder; retries names that
// happen to be taken.
int CreateNamedIn(const std::string& folder, const std::string& path, std::string& temporary) {
  for (unsigned attempt = 0;; ++attempt) {
    temporary = TemporaryNameIn(folder);
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt > 100) {
      const int error = errno;
      temporary.clear();
      ThrowOutputError(path, "cannot create the file: ", error);
    }
  }
}

// Linking an unnamed file goes through its /proc entry, which an ordinary
// user may link (AT_EMPTY_PATH would need a privilege).
std::string ProcEntry(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An unnamed file in folder where the file system and /proc allow one;
// otherwise a file under a temporary name. temporary is left empty for an
// unnamed file.
int CreateIn(const std::string& folder, const std::string& path, bool unnamed, std::string& temporary) {
  if (path.empty()) throw FileError(path, "no file name was given");
  if (!unnamed) return CreateNamedIn(folder, path, temporary);
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0) {
    if (::access(ProcEntry(fd).c_str(), F_OK) == 0) return fd;
    ::close(fd);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    // EISDIR and EINVAL: a kernel or file system without unnamed files.
    ThrowOutputError(path, "cannot create the file: ", errno);
  }
  return CreateNamedIn(folder, path, temporary);
}

// Compares two open files from their starts; a file that is not regular is
// never the same.
bool SameBytes(int first, int second) {
  struct stat a {};
  struct stat b {};
  if (::fstat(first, &a) != 0 || ::fstat(second, &b) != 0) return false;
  if (!S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size) return false;
  constexpr std::size_t kChunk = 1 << 20;
  const auto left = std::make_unique<std::uint8_t[]>(kChunk);
  const auto right = std::make_unique<std::uint8_t[]>(kChunk);
  for (off_t at = 0; at < a.st_size;) {
    const ssize_t n = ::pread(first, left.get(), kChunk, at);
    if (n <= 0) return false;
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(n)) {
      const ssize_t m = ::pread(second, right.get() + got, static_cast<std::size_t>(n) - got, at + static_cast<off_t>(got));
      if (m <= 0) return false;
      got += static_cast<std::size_t>(m);
    }
    if (std::memcmp(left.get(), right.get(), got) != 0) return false;
    at += n;
  }
  return true;
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
  Descriptor file(::open(path.c_str(), kReadFlags));
  if (file.get() < 0) {
    const int error = errno;
    // A socket, or a device without its driver, cannot be opened at all.
    struct stat named {};
    if ((error == ENXIO || error == ENODEV) && ::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
      throw FileError(path, "this is not a regular file");
    }
    throw FileError(path, "cannot open the file: " + SystemReason(error));
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw FileError(path, "cannot read the file: " + SystemReason(errno));
  if (S_ISDIR(info.st_mode)) throw FileError(path, "this is a folder, not a file");
  if (!S_ISREG(info.st_mode)) throw FileError(path, "this is not a regular file");
  if (info.st_size > kMaxReadableSize) {
    throw FileError(path, "the file is 2 GiB or larger, which is more than Mendrake can hold");
  }
  // Reads of a regular file never wait anyway; the flag goes so that no
  // later read can end short with EAGAIN on a file system that heeds it.
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw FileError(path, "cannot read the file: " + SystemReason(errno));
  }
  return OpenSource{std::move(file), static_cast<std::int64_t>(info.st_size), IdentityOf(info)};
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

PendingFile::PendingFile(std::string path, Temporary temporary)
    : path_(std::move(path)),
      folder_(FolderOf(path_)),
      file_(CreateIn(folder_, path_, temporary == Temporary::kUnnamedWherePossible, temporary_)) {}

PendingFile::~PendingFile() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
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
  if (placed_) return;
  if (!temporary_.empty()) {
    CloseBeforePlacing();
  } else if (::linkat(AT_FDCWD, ProcEntry(file_.get()).c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    placed_ = true;
  } else if (errno != EEXIST) {
    ThrowOutputError(path_, "cannot create the file: ", errno);
  } else {
    // A link never replaces: the file gets a temporary name, and the rename
    // replaces the old file in one step.
    for (unsigned attempt = 0; temporary_.empty(); ++attempt) {
      const std::string name = TemporaryNameIn(folder_);
      if (::linkat(AT_FDCWD, ProcEntry(file_.get()).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporary_ = name;
      } else if (errno != EEXIST || attempt > 100) {
        ThrowOutputError(path_, "cannot create the file: ", errno);
      }
    }
  }
  if (!placed_ && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
    throw FileError(path_, "cannot replace the file: " + SystemReason(errno));
  }
  temporary_.clear();
  placed_ = true;
  if (file_.get() >= 0 && file_.Close() != 0) ThrowWriteError(errno);
}

bool PendingFile::CommitWithoutReplacing(const std::string& name) {
  if (placed_) return true;
  const Placement placement = temporary_.empty() && file_.get() >= 0 ? LinkWithoutReplacing(name)
                                                                      : RenameWithoutReplacing(name);
  if (placement == Placement::kNameTaken && !HoldsSameBytes(name)) return false;
  // Placed, or the file there is what would have been written: either way
  // nothing of this one is left over.
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  placed_ = true;
  if (file_.get() >= 0 && file_.Close() != 0 && placement == Placement::kPlaced) {
    const int error = errno;
    ::unlink(name.c_str());
    ThrowOutputError(name, "cannot write the file: ", error);
  }
  return true;
}

PendingFile::Placement PendingFile::LinkWithoutReplacing(const std::string& name) {
  if (::linkat(AT_FDCWD, ProcEntry(file_.get()).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return Placement::kPlaced;
  }
  if (errno == EEXIST) return Placement::kNameTaken;
  ThrowOutputError(name, "cannot create the file: ", errno);
}

// Without unnamed files: rename that refuses to replace; where the file system
// lacks it, a second link and the temporary name removed; where it has no
// links either (FAT), the name taken first by creating an empty file there,
// which only succeeds when nothing of that name exists, then renamed over.
PendingFile::Placement PendingFile::RenameWithoutReplacing(const std::string& name) {
  CloseBeforePlacing();
  const char* from = temporary_.c_str();
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
    temporary_.clear();
    return Placement::kPlaced;
  }
  if (errno == EEXIST) return Placement::kNameTaken;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    ThrowOutputError(name, "cannot create the file: ", errno);
  }
  if (::link(from, name.c_str()) == 0) {
    ::unlink(from);
    temporary_.clear();
    return Placement::kPlaced;
  }
  if (errno == EEXIST) return Placement::kNameTaken;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) {
    ThrowOutputError(name, "cannot create the file: ", errno);
  }
  const int placeholder = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (placeholder < 0) {
    if (errno == EEXIST) return Placement::kNameTaken;
    ThrowOutputError(name, "cannot create the file: ", errno);
  }
  ::close(placeholder);
  if (::rename(from, name.c_str()) != 0) {
    const int error = errno;
    ::unlink(name.c_str());
    ThrowOutputError(name, "cannot create the file: ", error);
  }
  temporary_.clear();
  return Placement::kPlaced;
}

bool PendingFile::HoldsSameBytes(const std::string& name) {
  const Descriptor existing(::open(name.c_str(), kReadFlags));
  if (existing.get() < 0) return false;
  if (file_.get() >= 0) return SameBytes(file_.get(), existing.get());
  const Descriptor written(::open(temporary_.c_str(), kReadFlags));
  return written.get() >= 0 && SameBytes(written.get(), existing.get());
}

// A late write failure (network and removable media) is reported by close,
// which therefore comes before the file takes its name.
void PendingFile::CloseBeforePlacing() {
  if (file_.get() >= 0 && file_.Close() != 0) ThrowWriteError(errno);
}

void PendingFile::ThrowWriteError(int error) const {
  ThrowOutputError(path_, "cannot write the file: ", error);
}

std::size_t FileNameStart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

bool NameIsFreeOrHolds(const std::string& path, const std::uint8_t* bytes, std::int64_t count) {
  const Descriptor existing(::open(path.c_str(), kReadFlags));
  if (existing.get() < 0) return errno == ENOENT;
  struct stat info {};
  if (::fstat(existing.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != count) return false;
  const auto held = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count > 0 ? count : 1));
  try {
    ReadAll(existing.get(), held.get(), count, path);
  } catch (const FileError&) {
    return false;
  }
  return count == 0 || std::memcmp(held.get(), bytes, static_cast<std::size_t>(count)) == 0;
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  if (first.empty() || second.empty()) return false;
  if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace mendrake
