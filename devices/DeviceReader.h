#pragma once

#include "files/CardReader.h"
#include "files/FileError.h"

#include <cstdint>
#include <string>

namespace mendrake {

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
  bool SystemReadsAhead() const override { return imageFile_; }

 private:
  void Adopt(const std::string& path);

  int fd_ = -1;
  std::int64_t size_ = 0;
  // Reads of a drive on Windows go in whole sectors; an image file and any
  // device on Linux take reads of any size.
  std::int64_t readUnit_ = 1;
  bool imageFile_ = false;  // a file, not a device
};

}  // namespace mendrake
