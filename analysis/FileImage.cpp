#include "analysis/FileImage.h"

#include "analysis/FileError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrake {
namespace {

std::string SystemReason(int error) { return std::strerror(error); }

// Images from this size on get a mapping of their own in whole huge pages. A
// file image is read once front to back and then probed at scattered places
// (each candidate size points somewhere else), so small pages cost a page
// fault per 4 KiB on loading and a TLB miss per probe; on virtual machines
// both are many times dearer. The mapping is rounded up to whole huge pages,
// which also lets a run reuse it for the next file of about the same size.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::int64_t kMappedFrom = std::int64_t{1} << 20;

std::size_t RoundUpToHugePage(std::int64_t length) {
  return (static_cast<std::size_t>(length) + kHugePage - 1) & ~(kHugePage - 1);
}

// An anonymous mapping of length bytes (a multiple of kHugePage) that starts
// on a huge-page boundary, asking the kernel to back it with huge pages.
std::uint8_t* MapOnHugePageBoundary(std::size_t length) {
  const std::size_t slack = kHugePage;
  void* mapped = ::mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  const std::uintptr_t end = start + length + slack;
  if (aligned > start) ::munmap(mapped, aligned - start);
  if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
  // Only a hint: without transparent huge pages the mapping works as it is.
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<std::uint8_t*>(aligned);
}

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closing can report a late write failure (network and removable media).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

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

void WriteAll(int fd, const std::uint8_t* bytes, std::int64_t count, const std::string& path) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(path, "cannot write the file: " + SystemReason(errno));
    }
    done += n;
  }
}

// A name beside the target, so the final rename stays on one file system.
std::string TemporaryNameFor(const std::string& path, unsigned attempt) {
  return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
}

}  // namespace

void FileImage::LoadFromFile(const std::string& path) {
  if (path.empty()) throw FileError(path, "no file name was given");
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw FileError(path, "cannot open the file: " + SystemReason(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw FileError(path, "cannot read the file: " + SystemReason(errno));
  if (S_ISDIR(info.st_mode)) throw FileError(path, "this is a folder, not a file");
  if (!S_ISREG(info.st_mode)) throw FileError(path, "this is not a regular file");
  if (info.st_size > kMaxSize) throw FileError(path, "the file is 2 GiB or larger, which is more than Mendrake can hold");

  size_ = 0;
  position_ = 0;
  Reserve(info.st_size);
  ReadAll(file.get(), data_.get(), info.st_size, path);
  size_ = static_cast<std::int32_t>(info.st_size);
}

void FileImage::SaveToFile(const std::string& path) const {
  if (path.empty()) throw FileError(path, "no file name was given");
  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0; ++attempt) {
    temporary = TemporaryNameFor(path, attempt);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) throw FileError(path, "cannot create the file: " + SystemReason(errno));
  }
  Descriptor file(fd);
  try {
    WriteAll(file.get(), data_.get(), size_, path);
    if (file.Close() != 0) throw FileError(path, "cannot write the file: " + SystemReason(errno));
    if (::rename(temporary.c_str(), path.c_str()) != 0) throw FileError(path, "cannot replace the file: " + SystemReason(errno));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

void FileImage::Assign(const std::uint8_t* bytes, std::int64_t count) {
  if (count < 0 || count > kMaxSize) throw std::out_of_range("file image size out of range");
  size_ = 0;
  position_ = 0;
  Reserve(count);
  if (count > 0) std::memcpy(data_.get(), bytes, static_cast<std::size_t>(count));
  size_ = static_cast<std::int32_t>(count);
}

void FileImage::SetPosition(std::int64_t position) {
  if (position < 0 || position > kMaxSize) throw std::out_of_range("file image position out of range");
  position_ = static_cast<std::int32_t>(position);
}

void FileImage::SetSize(std::int64_t size) {
  if (size < 0 || size > kMaxSize) throw std::out_of_range("file image size out of range");
  if (size > size_) {
    Reserve(size);
    std::memset(data_.get() + size_, 0, static_cast<std::size_t>(size - size_));
  }
  size_ = static_cast<std::int32_t>(size);
}

void FileImage::CopyFrom(FileImage& source, std::int64_t count, const std::string& sourceName) {
  const std::int64_t remaining = source.size_ > source.position_ ? source.size_ - source.position_ : 0;
  if (count < 0 || count > remaining) {
    throw FileError(sourceName, "the file ends before the " + std::to_string(count) + " bytes to copy from offset " +
                                    std::to_string(source.position_));
  }
  if (static_cast<std::int64_t>(size_) + count > kMaxSize) throw std::out_of_range("file image size out of range");
  Reserve(size_ + count);
  if (count > 0) std::memcpy(data_.get() + size_, source.data_.get() + source.position_, static_cast<std::size_t>(count));
  size_ += static_cast<std::int32_t>(count);
  source.position_ += static_cast<std::int32_t>(count);
}

void FileImage::Reserve(std::int64_t capacity) {
  if (capacity <= capacity_) return;
  if (size_ == 0) {
    data_.reset();  // nothing to keep: free first, so old and new never coexist
    capacity_ = 0;
  }
  // Close to exact sizes: images are loaded once and rarely grown, and the
  // peak memory of a run should stay close to the size of the file in hand.
  Buffer grown = Allocate(capacity);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), static_cast<std::size_t>(size_));
  const std::size_t mapped = grown.get_deleter().mappedLength;
  data_ = std::move(grown);
  capacity_ = static_cast<std::int32_t>(mapped > 0 ? std::min<std::int64_t>(static_cast<std::int64_t>(mapped), kMaxSize) : capacity);
}

FileImage::Buffer FileImage::Allocate(std::int64_t capacity) {
  if (capacity < kMappedFrom) return Buffer(new std::uint8_t[static_cast<std::size_t>(capacity)], ImageBufferRelease{});
  const std::size_t length = RoundUpToHugePage(capacity);
  return Buffer(MapOnHugePageBoundary(length), ImageBufferRelease{length});
}

void ImageBufferRelease::operator()(std::uint8_t* bytes) const {
  if (mappedLength > 0) {
    ::munmap(bytes, mappedLength);
  } else {
    delete[] bytes;
  }
}

}  // namespace mendrake
