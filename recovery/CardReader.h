#pragma once

#include "files/FileError.h"

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
};

// The card's device exists but this user may not read it: block devices
// belong to root. Whoever opens it can ask the drive service for access or
// tell the user the command that works.
class CardAccessDenied : public FileError {
 public:
  using FileError::FileError;
};

// A card image file of any size or a block device (on Windows a drive,
// "E:", "\\.\E:" or "\\.\PhysicalDrive1"), whose size comes from the
// device itself. Throws CardAccessDenied when the device may not be read, and
// FileError when it cannot be opened for another reason, with a hint to image
// the card first.
class DeviceReader final : public CardReader {
 public:
  explicit DeviceReader(const std::string& path);
  // Reads a descriptor opened elsewhere (by the drive service, say; on
  // Windows a file handle as HandleToLong gives it), which it then owns;
  // path names it in errors.
  DeviceReader(int fd, const std::string& path);
  ~DeviceReader() override;
  DeviceReader(const DeviceReader&) = delete;
  DeviceReader& operator=(const DeviceReader&) = delete;

  std::int64_t Size() const override { return size_; }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override;

 private:
  void Adopt(const std::string& path);

  int fd_ = -1;
  std::int64_t size_ = 0;
  // Reads of a drive on Windows go in whole sectors; an image file and any
  // device on Linux take reads of any size.
  std::int64_t readUnit_ = 1;
};

}  // namespace mendrake
