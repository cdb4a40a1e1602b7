#include "analysis/FileImage.h"

#include "files/FileError.h"
#include "files/FileIo.h"
#include "files/LargeBuffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace mendrake {

void FileImage::LoadFromFile(const std::string& path) {
  sourceIdentity_ = {};
  OpenSource source = OpenForReading(path);
  size_ = 0;
  position_ = 0;
  Reserve(source.size);
  for (std::int64_t done = 0; done < source.size;) {
    const std::int64_t piece = std::min(kLoadPiece, source.size - done);
    ReadAll(source.file.get(), data_.get() + done, piece, path);
    done += piece;
    size_ = static_cast<std::int32_t>(done);
    if (done < source.size && loadProgress_ && !loadProgress_()) {
      SetSize(source.size);
      break;
    }
  }
  sourceIdentity_ = source.identity;
}

void FileImage::SaveToFile(const std::string& path) const {
  PendingFile file(path);
  file.Write(data_.get(), size_);
  file.Commit();
}

void FileImage::Assign(const std::uint8_t* bytes, std::int64_t count) {
  if (count < 0 || count > kMaxSize) throw std::out_of_range("file image size out of range");
  sourceIdentity_ = {};
  size_ = 0;
  position_ = 0;
  Reserve(count);
  if (count > 0) std::memcpy(data_.get(), bytes, static_cast<std::size_t>(count));
  size_ = static_cast<std::int32_t>(count);
}

void FileImage::Append(const std::uint8_t* bytes, std::int64_t count) {
  if (count < 0 || count > kMaxSize - size_) throw std::out_of_range("file image size out of range");
  Reserve(size_ + count);
  if (count > 0) std::memcpy(data_.get() + size_, bytes, static_cast<std::size_t>(count));
  size_ += static_cast<std::int32_t>(count);
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
  // Large images are rounded up to whole huge pages (LargeBuffer.h), which
  // also lets a run reuse the mapping for the next file of about that size.
  Buffer grown = Allocate(capacity);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), static_cast<std::size_t>(size_));
  data_ = std::move(grown);
  const auto requested = static_cast<std::size_t>(capacity);
  capacity_ = IsLargeBuffer(requested)
                  ? static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(LargeBufferLength(requested)), kMaxSize))
                  : static_cast<std::int32_t>(capacity);
}

FileImage::Buffer FileImage::Allocate(std::int64_t capacity) {
  const auto bytes = static_cast<std::size_t>(capacity);
  return Buffer(LargeBufferAllocator<std::uint8_t>().allocate(bytes), ImageBufferRelease{bytes});
}

void ImageBufferRelease::operator()(std::uint8_t* bytes) const {
  LargeBufferAllocator<std::uint8_t>().deallocate(bytes, allocated);
}

}  // namespace mendrake
