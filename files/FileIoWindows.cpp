// The file layer on Windows. Names arrive as UTF-8 and go to the wide calls
// as full paths with the long-path prefix. A descriptor is a C runtime file
// descriptor that stands for a file handle, so the layer's interface is the
// same as on POSIX systems.
#include "files/FileIo.h"

#include "files/FileError.h"
#include "files/HandleRead.h"
#include "files/WideText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

namespace mendrake {
namespace {

// ReadFile and WriteFile take a 32-bit count: larger transfers go in pieces.
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

// Other programs may read, write, rename or delete a file while it is read:
// the same as on POSIX systems, where nothing locks a file.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsFullError(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

[[noreturn]] void ThrowOutputError(const std::string& path, const std::string& what, DWORD error) {
  if (IsFullError(error)) throw OutputFullError(path, what + WindowsErrorText(error));
  throw FileError(path, what + WindowsErrorText(error));
}

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool IsNameTakenError(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// The handle becomes a C runtime descriptor, which owns it from then on.
int DescriptorFor(HANDLE handle, int flags) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) ::CloseHandle(handle);
  return fd;
}

HANDLE OpenExisting(const std::string& path, DWORD access) {
  return ::CreateFileW(LongPath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// FILETIME counts 100-nanosecond steps from 1601; identities hold seconds and
// nanoseconds from 1970, as on POSIX systems.
constexpr std::int64_t kFiletimeTo1970 = 116444736000000000;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  const std::int64_t size = (std::int64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  const std::int64_t written =
      ((std::int64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime) -
      kFiletimeTo1970;
  const std::int64_t seconds = written >= 0 ? written / 10000000 : -((-written + 9999999) / 10000000);
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, size, seconds,
                      (written - seconds * 10000000) * 100};
}

bool InformationOf(int fd, BY_HANDLE_FILE_INFORMATION& info) {
  return ::GetFileInformationByHandle(HandleOf(fd), &info) != 0;
}

bool IsFolder(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder a new file goes into: its full path up to the last separator.
std::wstring FolderOf(const std::string& path) {
  const std::wstring full = LongPath(path);
  const std::size_t separator = full.find_last_of(L'\\');
  return separator == std::wstring::npos ? L"." : full.substr(0, separator);
}

// A short name of fixed length, so that a temporary name fits wherever the
// target's name does.
std::wstring TemporaryNameIn(const std::wstring& folder) {
  static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::wstring name = folder + L"\\.mendrake-";
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters / sizeof kLetters[0] - 1)];
  return name;
}

// Compares two open files from their starts; a folder is never the same.
bool SameBytes(int first, int second) {
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!InformationOf(first, a) || !InformationOf(second, b) || IsFolder(a) || IsFolder(b)) return false;
  const std::int64_t size = IdentityOf(a).size;
  if (size != IdentityOf(b).size) return false;
  constexpr std::int64_t kChunk = 1 << 20;
  const auto left = std::make_unique<std::uint8_t[]>(kChunk);
  const auto right = std::make_unique<std::uint8_t[]>(kChunk);
  for (std::int64_t at = 0; at < size;) {
    const std::int64_t n = ReadHandleAt(HandleOf(first), at, left.get(), kChunk);
    if (n <= 0) return false;
    for (std::int64_t got = 0; got < n;) {
      const std::int64_t m = ReadHandleAt(HandleOf(second), at + got, right.get() + got, n - got);
      if (m <= 0) return false;
      got += m;
    }
    if (std::memcmp(left.get(), right.get(), static_cast<std::size_t>(n)) != 0) return false;
    at += n;
  }
  return true;
}

// Creates a new file under a temporary name in folder; retries names that
// happen to be taken. Windows has no unnamed files.
int CreateNamedIn(const std::string& folder, const std::string& path, std::string& temporary) {
  if (path.empty()) throw FileError(path, "no file name was given");
  const std::wstring wideFolder = WideFromUtf8(folder);
  for (unsigned attempt = 0;; ++attempt) {
    const std::wstring name = TemporaryNameIn(wideFolder);
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const int fd = DescriptorFor(file, _O_RDWR);
      if (fd < 0) {
        ::DeleteFileW(name.c_str());
        throw FileError(path, "cannot create the file: too many open files");
      }
      temporary = Utf8FromWide(name);
      return fd;
    }
    const DWORD error = ::GetLastError();
    if (!IsNameTakenError(error) || attempt > 100) ThrowOutputError(path, "cannot create the file: ", error);
  }
}

}  // namespace

std::int64_t ReadHandleAt(void* handle, std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!::ReadFile(handle, buffer, static_cast<DWORD>(std::min(count, kMaxTransfer)), &read, &at)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return read;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::_close(fd_);
}

int Descriptor::Close() {
  const int result = ::_close(fd_);
  fd_ = -1;
  return result;
}

OpenSource OpenForReading(const std::string& path) {
  if (path.empty()) throw FileError(path, "no file name was given");
  const HANDLE handle = OpenExisting(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder cannot be opened as a file at all.
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw FileError(path, "this is a folder, not a file");
    }
    throw FileError(path, "cannot open the file: " + WindowsErrorText(error));
  }
  // A pipe, console or device is not a file that holds a CRW file.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    throw FileError(path, "this is not a regular file");
  }
  Descriptor file(DescriptorFor(handle, _O_RDONLY));
  if (file.get() < 0) throw FileError(path, "cannot open the file: too many open files");
  BY_HANDLE_FILE_INFORMATION info{};
  if (!InformationOf(file.get(), info)) {
    throw FileError(path, "cannot read the file: " + WindowsErrorText(::GetLastError()));
  }
  if (IsFolder(info)) throw FileError(path, "this is a folder, not a file");
  const FileIdentity identity = IdentityOf(info);
  if (identity.size > kMaxReadableSize) {
    throw FileError(path, "the file is 2 GiB or larger, which is more than Mendrake can hold");
  }
  return OpenSource{std::move(file), identity.size, identity};
}

void ReadAll(int fd, std::uint8_t* buffer, std::int64_t count, const std::string& path) {
  const HANDLE file = HandleOf(fd);
  std::int64_t done = 0;
  while (done < count) {
    DWORD read = 0;
    if (!::ReadFile(file, buffer + done, static_cast<DWORD>(std::min(count - done, kMaxTransfer)), &read, nullptr)) {
      throw FileError(path, "cannot read the file: " + WindowsErrorText(::GetLastError()));
    }
    if (read == 0) throw FileError(path, "the file became shorter while it was being read");
    done += read;
  }
}

// Every new file gets a temporary name first: Windows has no unnamed files,
// and a move that does not replace is one call.
PendingFile::PendingFile(std::string path, Temporary /*temporary*/)
    : path_(std::move(path)),
      folder_(Utf8FromWide(FolderOf(path_))),
      file_(CreateNamedIn(folder_, path_, temporary_)) {}

PendingFile::~PendingFile() {
  if (file_.get() >= 0) file_.Close();
  if (!temporary_.empty()) ::DeleteFileW(WideFromUtf8(temporary_).c_str());
}

void PendingFile::Write(const std::uint8_t* bytes, std::int64_t count) {
  const HANDLE file = HandleOf(file_.get());
  std::int64_t done = 0;
  while (done < count) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes + done, static_cast<DWORD>(std::min(count - done, kMaxTransfer)), &written,
                     nullptr)) {
      ThrowWriteError(static_cast<int>(::GetLastError()));
    }
    done += written;
  }
}

void PendingFile::CopyFrom(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count) {
  CopyThroughBuffer(sourceFd, sourcePath, offset, count);
}

void PendingFile::CopyThroughBuffer(int sourceFd, const std::string& sourcePath, std::int64_t offset,
                                    std::int64_t count) {
  constexpr std::int64_t kChunk = 1 << 20;
  const std::int64_t bufferSize = count < kChunk ? count : kChunk;
  const auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(bufferSize > 0 ? bufferSize : 1));
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t n =
        ReadHandleAt(HandleOf(sourceFd), offset + done, buffer.get(), std::min(count - done, bufferSize));
    if (n < 0) throw FileError(sourcePath, "cannot read the file: " + WindowsErrorText(::GetLastError()));
    if (n == 0) throw FileError(sourcePath, "the file became shorter while it was being read");
    Write(buffer.get(), n);
    done += n;
  }
}

void PendingFile::Commit() {
  if (placed_) return;
  CloseBeforePlacing();
  if (!::MoveFileExW(WideFromUtf8(temporary_).c_str(), LongPath(path_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw FileError(path_, "cannot replace the file: " + WindowsErrorText(::GetLastError()));
  }
  temporary_.clear();
  placed_ = true;
}

bool PendingFile::CommitWithoutReplacing(const std::string& name) {
  if (placed_) return true;
  const Placement placement = RenameWithoutReplacing(name);
  if (placement == Placement::kNameTaken && !HoldsSameBytes(name)) return false;
  // Placed, or the file there is what would have been written: either way
  // nothing of this one is left over.
  if (!temporary_.empty()) ::DeleteFileW(WideFromUtf8(temporary_).c_str());
  temporary_.clear();
  placed_ = true;
  return true;
}

PendingFile::Placement PendingFile::LinkWithoutReplacing(const std::string& name) {
  return RenameWithoutReplacing(name);
}

// A move without MOVEFILE_REPLACE_EXISTING fails when the name is taken, as
// the file system judges names (letter case is ignored on NTFS and FAT).
PendingFile::Placement PendingFile::RenameWithoutReplacing(const std::string& name) {
  CloseBeforePlacing();
  if (::MoveFileExW(WideFromUtf8(temporary_).c_str(), LongPath(name).c_str(), 0)) {
    temporary_.clear();
    return Placement::kPlaced;
  }
  const DWORD error = ::GetLastError();
  if (IsNameTakenError(error)) return Placement::kNameTaken;
  // A folder of that name refuses the move as access denied.
  const DWORD attributes = ::GetFileAttributesW(LongPath(name).c_str());
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES) return Placement::kNameTaken;
  ThrowOutputError(name, "cannot create the file: ", error);
}

bool PendingFile::HoldsSameBytes(const std::string& name) {
  const HANDLE existingHandle = OpenExisting(name, GENERIC_READ);
  if (existingHandle == INVALID_HANDLE_VALUE) return false;
  const Descriptor existing(DescriptorFor(existingHandle, _O_RDONLY));
  const HANDLE writtenHandle = ::CreateFileW(WideFromUtf8(temporary_).c_str(), GENERIC_READ, kShareAll, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writtenHandle == INVALID_HANDLE_VALUE) return false;
  const Descriptor written(DescriptorFor(writtenHandle, _O_RDONLY));
  return existing.get() >= 0 && written.get() >= 0 && SameBytes(written.get(), existing.get());
}

// Closed before the file takes its name, as on POSIX systems. Nothing is
// forced to the disk: that is the system's to do, on both.
void PendingFile::CloseBeforePlacing() {
  if (file_.get() >= 0 && file_.Close() != 0) ThrowWriteError(static_cast<int>(::GetLastError()));
}

void PendingFile::ThrowWriteError(int error) const {
  ThrowOutputError(path_, "cannot write the file: ", static_cast<DWORD>(error));
}

std::size_t FileNameStart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? 0 : separator + 1;
}

bool NameIsFreeOrHolds(const std::string& path, const std::uint8_t* bytes, std::int64_t count) {
  const HANDLE handle = OpenExisting(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return IsMissingError(::GetLastError());
  const Descriptor existing(DescriptorFor(handle, _O_RDONLY));
  BY_HANDLE_FILE_INFORMATION info{};
  if (existing.get() < 0 || !InformationOf(existing.get(), info) || IsFolder(info) ||
      IdentityOf(info).size != count) {
    return false;
  }
  const auto held = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count > 0 ? count : 1));
  try {
    ReadAll(existing.get(), held.get(), count, path);
  } catch (const FileError&) {
    return false;
  }
  return count == 0 || std::memcmp(held.get(), bytes, static_cast<std::size_t>(count)) == 0;
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
  if (first.empty() || second.empty()) return false;
  // Neither read nor write access: only the file's identity is asked for,
  // and folders open too.
  const auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE handle = ::CreateFileW(LongPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    return known;
  };
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!identify(first, a) || !identify(second, b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace mendrake
