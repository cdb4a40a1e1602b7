// Card bytes on Windows: an image file through the long-path wide calls, or
// a drive ("E:", "\\.\E:", "\\.\PhysicalDrive1") whose length the disk
// itself tells. Drives are read in whole sectors. The reader keeps the file
// handle itself in its descriptor field (HandleToLong: Windows handles carry
// 32 significant bits), as the C runtime refuses descriptors for drives
// whose handle is of no file type it knows.
#include "devices/DeviceReader.h"

#include "devices/DriveNames.h"
#include "files/FileError.h"
#include "files/HandleRead.h"
#include "files/WideText.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <memory>

namespace mendrake {
namespace {

// A whole number of sectors of every disk in use (512 and 4096 bytes).
constexpr std::int64_t kSectorUnit = 4096;

HANDLE HandleOf(int fd) { return LongToHandle(fd); }

// The errors of a drive taken out, or of its reader unplugged.
bool IsGoneError(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE ||
         error == ERROR_DEV_NOT_EXIST || error == ERROR_BAD_UNIT || error == ERROR_FILE_INVALID ||
         error == ERROR_MEDIA_CHANGED;
}

// Reads count bytes at offset: the count read, short only at the end;
// kReadFailed when the medium reports an error, kCardGone when the drive is gone.
std::int64_t ReadFully(HANDLE handle, std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t n = ReadHandleAt(handle, offset + done, buffer + done, count - done);
    if (n < 0) return IsGoneError(::GetLastError()) ? CardReader::kCardGone : CardReader::kReadFailed;
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

DeviceReader::DeviceReader(const std::string& path) {
  const std::optional<std::string> drive = DriveDeviceName(path);
  const std::wstring name = drive ? WideFromUtf8(*drive) : LongPath(path);
  // Others keep the drive: Windows mounts the card's file system while it is read.
  const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      throw CardAccessDenied(path, "cannot be read: " + WindowsErrorText(error) +
                                       (drive ? " (reading a drive needs an administrator)" : ""));
    }
    throw FileError(path, "cannot be opened (" + WindowsErrorText(error) +
                              "); make an image of the card first, or run with read access to the device");
  }
  fd_ = HandleToLong(handle);
  Adopt(path);
}

void DeviceReader::Adopt(const std::string& path) {
  const HANDLE handle = HandleOf(fd_);
  const bool isDrive = DriveDeviceName(path).has_value();
  if (!isDrive) {
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(handle, &size)) {
      ::CloseHandle(handle);
      fd_ = -1;
      throw FileError(path, "is neither a card image file nor a block device");
    }
    size_ = size.QuadPart;
    imageFile_ = true;
    return;
  }
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (!::DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                         nullptr)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    fd_ = -1;
    throw FileError(path, "its size cannot be read: " + WindowsErrorText(error));
  }
  size_ = length.Length.QuadPart;
  readUnit_ = kSectorUnit;
  // A volume's last sectors may lie past its file system's end: let them be read.
  ::DeviceIoControl(handle, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &returned, nullptr);
}

DeviceReader::~DeviceReader() {
  if (fd_ >= 0) ::CloseHandle(HandleOf(fd_));
}

std::int64_t DeviceReader::ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
  const HANDLE handle = HandleOf(fd_);
  // A drive reports reads past its end as errors, not as the end.
  if (readUnit_ > 1) count = std::clamp<std::int64_t>(size_ - offset, 0, count);
  if (readUnit_ > 1 && (offset % readUnit_ != 0 || count % readUnit_ != 0)) {
    // Through whole sectors around the bytes wanted; a drive's length is a
    // whole number of sectors.
    const std::int64_t first = offset - offset % readUnit_;
    const std::int64_t length = (offset + count - first + readUnit_ - 1) / readUnit_ * readUnit_;
    const auto sectors = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(length));
    const std::int64_t got = ReadFully(handle, first, sectors.get(), length);
    if (got < 0) return got;
    const std::int64_t useful = std::clamp<std::int64_t>(got - (offset - first), 0, count);
    std::copy_n(sectors.get() + (offset - first), useful, buffer);
    return useful;
  }
  return ReadFully(handle, offset, buffer, count);
}

}  // namespace mendrake
