#pragma once

#include <cstdint>
#include <string>

namespace mendrake {

// Where card bytes come from: an image file or a block device, read in
// order. A test reader can fail at a chosen offset.
class CardReader {
 public:
  virtual ~CardReader() = default;
  virtual std::int64_t Size() const = 0;
  // Reads count bytes at offset into buffer; returns the count read (short
  // only at the end), or -1 when the medium reports an error (EIO).
  virtual std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) = 0;
};

}  // namespace mendrake
