#include "devices/DeviceReader.h"

#include "files/FileError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace mendrake {

DeviceReader::DeviceReader(const std::string& path) {
  // Without blocking: a FIFO named as the card would keep the open waiting.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      throw CardAccessDenied(path, std::string("cannot be read: ") + std::strerror(error) +
                                       " (block devices belong to root)");
    }
    throw FileError(path, std::string("cannot be opened (") + std::strerror(error) +
                              "); make an image of the card first, or run with read access to the device");
  }
  Adopt(path);
}

void DeviceReader::Adopt(const std::string& path) {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    throw FileError(path, std::strerror(error));
  }
  if (S_ISREG(info.st_mode)) {
    size_ = info.st_size;
    imageFile_ = true;
#ifdef __linux__
  } else if (S_ISBLK(info.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
      const int error = errno;
      ::close(fd_);
      throw FileError(path, std::string("its size cannot be read: ") + std::strerror(error));
    }
    size_ = static_cast<std::int64_t>(bytes);
#endif
  } else {
    ::close(fd_);
    throw FileError(path, "is neither a card image file nor a block device");
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

DeviceReader::~DeviceReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t DeviceReader::ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, buffer + done, static_cast<std::size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == ENODEV || errno == ENXIO || errno == ENOMEDIUM ? kCardGone : kReadFailed;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace mendrake
