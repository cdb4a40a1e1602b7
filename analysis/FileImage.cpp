#include "analysis/FileImage.h"

#include "analysis/FileError.h"
#include "analysis/FileIo.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/mman.h>

namespace mendrake {
namespace {

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

}  // namespace

void FileImage::LoadFromFile(const std::string& path) {
  OpenSource source = OpenForReading(path);
  size_ = 0;
  position_ = 0;
  Reserve(source.size);
  ReadAll(source.file.get(), data_.get(), source.size, path);
  size_ = static_cast<std::int32_t>(source.size);
}

void FileImage::SaveToFile(const std::string& path) const {
  PendingFile file(path);
  file.Write(data_.get(), size_);
  file.Commit();
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
