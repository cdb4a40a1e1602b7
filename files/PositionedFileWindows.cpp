#include "files/PositionedFile.h"

#include "files/FileError.h"
#include "files/WideText.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>

namespace mendrake {
namespace {

// WriteFile takes a 32-bit count: larger writes go in pieces.
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

HANDLE HandleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

[[noreturn]] void ThrowWriteError(const std::string& path, const std::string& what, DWORD error) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    throw OutputFullError(path, what + WindowsErrorText(error));
  }
  throw FileError(path, what + WindowsErrorText(error));
}

}  // namespace

PositionedFile::PositionedFile(const std::string& path, Open how) : path_(path) {
  // Others may read the image while it is filled, as on POSIX systems.
  const HANDLE handle = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, how == Open::kNew ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      throw FileError(path, "already exists, and is not replaced");
    }
    throw FileError(path, "cannot be opened for writing: " + WindowsErrorText(error));
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    throw FileError(path, "is not a regular file");
  }
  // Bytes never written stay holes, as on POSIX file systems.
  DWORD returned = 0;
  ::DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  file_ = reinterpret_cast<std::intptr_t>(handle);
}

PositionedFile::~PositionedFile() {
  if (file_ != -1) ::CloseHandle(HandleOf(file_));
}

void PositionedFile::WriteAt(std::int64_t offset, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD written = 0;
    if (!::WriteFile(HandleOf(file_), bytes + done, static_cast<DWORD>(std::min(count - done, kMaxTransfer)),
                     &written, &at)) {
      ThrowWriteError(path_, "cannot be written: ", ::GetLastError());
    }
    done += written;
  }
}

void PositionedFile::SetSize(std::int64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (!::SetFileInformationByHandle(HandleOf(file_), FileEndOfFileInfo, &end, sizeof end)) {
    ThrowWriteError(path_, "cannot be made longer: ", ::GetLastError());
  }
}

std::int64_t PositionedFile::Size() const {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(HandleOf(file_), &size) ? size.QuadPart : 0;
}

void PositionedFile::Close() {
  const HANDLE handle = HandleOf(file_);
  file_ = -1;
  if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle)) {
    ThrowWriteError(path_, "cannot be written: ", ::GetLastError());
  }
}

}  // namespace mendrake
