#pragma once

#include <cstdint>
#include <string>

namespace mendrake {

// Where card bytes come from: an image file or a block device, read in
// order. A test reader can fail at a chosen offset.
class CardReader {
 public:
  virtual ~CardReader() = default;
  // What ReadAt returns when the medium reports an error (EIO): the sectors
  // may read another time, or be bad.
  static constexpr std::int64_t kReadFailed = -1;
  // What ReadAt returns when the card is gone: taken out, its reader
  // unplugged or dropped off the bus (ENODEV, ENXIO, ENOMEDIUM). No read
  // that follows can succeed.
  static constexpr std::int64_t kCardGone = -2;

  virtual std::int64_t Size() const = 0;
  // Reads count bytes at offset into buffer; returns the count read (short
  // only at the end), kReadFailed or kCardGone.
  virtual std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) = 0;
  // Whether the system reads ahead of the reads asked for, as it does for a
  // file (an image of a card). A thread of the scan's own reading ahead then
  // only hands the bytes from one processor core to another, which for a
  // file in the page cache costs more than the read itself. A card in its
  // reader is read ahead by that thread, so that it is read while a block is
  // scanned.
  virtual bool SystemReadsAhead() const { return false; }
};

}  // namespace mendrake
