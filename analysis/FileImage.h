#pragma once

#include "files/FileIo.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace mendrake {

// Frees a file image's content however it was allocated: large images live in
// mappings of their own (see LargeBuffer.h), small ones on the heap.
struct ImageBufferRelease {
  std::size_t allocated = 0;
  void operator()(std::uint8_t* bytes) const;
};

// The whole content of one file held in memory, with a read position.
// Sizes and positions are taken and given as 64-bit values but held in signed
// 32 bits, so an image holds less than 2 GiB.
class FileImage {
 public:
  static constexpr std::int64_t kMaxSize = kMaxReadableSize;

  FileImage() = default;
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  // A file larger than this is read in pieces of this size, with the load
  // progress asked between them: a few milliseconds from the page cache and
  // about half a second from a slow card reader, so a window can repaint and
  // answer Cancel. A camera's CRW file, at most about 10 MB, is read at once.
  static constexpr std::int64_t kLoadPiece = std::int64_t{16} << 20;

  // Asked between the pieces of a load; false stops the load. The image then
  // has the file's size, with zeros where the bytes were not read.
  using LoadProgress = std::function<bool()>;
  void SetLoadProgress(LoadProgress progress) { loadProgress_ = std::move(progress); }

  // Replaces the content with the file at path. Throws FileError.
  void LoadFromFile(const std::string& path);
  // The identity of the file the content was last loaded from, as it was
  // when it was opened; the default (no file) after content from elsewhere.
  const FileIdentity& SourceIdentity() const { return sourceIdentity_; }
  // Creates or replaces the file at path with the whole content, through a
  // temporary file in the same folder, so a failure leaves no partial file and
  // any earlier file of that name intact. Throws FileError.
  void SaveToFile(const std::string& path) const;

  // Replaces the content with a copy of bytes (for tests and fuzzing).
  void Assign(const std::uint8_t* bytes, std::int64_t count);

  // Adds a copy of bytes at the end; without a reallocation while the size
  // stays within what an earlier SetSize reserved (a card scan fills one
  // image window after window this way). Throws std::out_of_range.
  void Append(const std::uint8_t* bytes, std::int64_t count);

  // Reads up to count bytes at the position and advances it by what was read.
  // At or past the end nothing is read.
  std::int64_t Read(void* buffer, std::int64_t count) {
    const std::int64_t available = size_ > position_ ? size_ - position_ : 0;
    const std::int64_t n = count < available ? count : available;
    if (n <= 0) return 0;
    std::memcpy(buffer, data_.get() + position_, static_cast<std::size_t>(n));
    position_ += static_cast<std::int32_t>(n);
    return n;
  }

  std::int64_t Position() const { return position_; }
  // Throws std::out_of_range outside 0 .. kMaxSize.
  void SetPosition(std::int64_t position);

  std::int64_t Size() const { return size_; }
  // Keeps the leading bytes; growing fills with zeros. Throws std::out_of_range.
  void SetSize(std::int64_t size);

  // Appends count bytes of source from its position on, advancing it.
  // Throws FileError (naming sourceName) when fewer than count bytes remain.
  void CopyFrom(FileImage& source, std::int64_t count, const std::string& sourceName);

  // Direct access for readers that check their own bounds against Size().
  const std::uint8_t* Data() const { return data_.get(); }

  // Makes room for capacity bytes without touching it: a large image's
  // mapping gets its pages as they are first written (a card scan reserves
  // room for the largest window once and mostly fills a small part of it).
  void Reserve(std::int64_t capacity);

 private:

  using Buffer = std::unique_ptr<std::uint8_t, ImageBufferRelease>;
  static Buffer Allocate(std::int64_t capacity);

  Buffer data_;
  LoadProgress loadProgress_;
  FileIdentity sourceIdentity_;
  std::int32_t size_ = 0;
  std::int32_t capacity_ = 0;
  std::int32_t position_ = 0;
};

}  // namespace mendrake
