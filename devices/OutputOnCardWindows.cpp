// The output folder against the card on Windows: the card is a drive ("E:")
// or a physical drive ("\\.\PhysicalDrive1"); the folder is on it when the
// volume that holds the folder is that drive, or lies on that disk. An image
// file is a file like any other: writing next to it overwrites nothing.
#include "devices/OutputOnCard.h"

#include "devices/DriveNames.h"
#include "files/WideText.h"

#include <windows.h>
#include <winioctl.h>

#include <filesystem>
#include <vector>

namespace mendrake {
namespace {

namespace fs = std::filesystem;

// The nearest folder at or above path that exists: a folder not yet made
// will be made on the volume of that one.
std::wstring ExistingFolder(const std::string& path) {
  std::error_code error;
  fs::path folder = fs::absolute(fs::path(WideFromUtf8(path)), error);
  while (!folder.empty() && !fs::exists(folder, error) && folder.has_parent_path() && folder.parent_path() != folder) {
    folder = folder.parent_path();
  }
  return folder.wstring();
}

// The volume's name ("\\?\Volume{...}\") that holds the folder, through
// folders mounted into folders too; empty when it cannot be told.
std::wstring VolumeOf(const std::wstring& folder) {
  wchar_t mountPoint[MAX_PATH + 1] = {};
  wchar_t volume[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(folder.c_str(), mountPoint, MAX_PATH + 1)) return {};
  if (!::GetVolumeNameForVolumeMountPointW(mountPoint, volume, MAX_PATH + 1)) return mountPoint;
  return volume;
}

// The disks a volume lies on (a volume may span several).
std::vector<DWORD> DisksOf(const std::wstring& volume) {
  std::wstring device = volume;
  if (!device.empty() && device.back() == L'\\') device.pop_back();
  const HANDLE handle = ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  union {
    VOLUME_DISK_EXTENTS extents;
    char room[sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT)];
  } answer{};
  DWORD returned = 0;
  std::vector<DWORD> disks;
  if (::DeviceIoControl(handle, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &answer, sizeof answer, &returned,
                        nullptr)) {
    for (DWORD i = 0; i < answer.extents.NumberOfDiskExtents && i < 32; ++i) {
      disks.push_back(answer.extents.Extents[i].DiskNumber);
    }
  }
  ::CloseHandle(handle);
  return disks;
}

}  // namespace

std::optional<std::string> OutputFolderOnCard(const std::string& source, const std::string& outputFolder) {
  const std::wstring volume = VolumeOf(ExistingFolder(outputFolder));
  if (volume.empty()) return std::nullopt;
  if (const char letter = DriveLetter(source)) {
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(letter)) + L":\\";
    if (VolumeOf(root) == volume) return std::string(1, letter) + ":";
    return std::nullopt;
  }
  if (const int number = PhysicalDriveNumber(source); number >= 0) {
    for (const DWORD disk : DisksOf(volume)) {
      if (disk == static_cast<DWORD>(number)) return "\\\\.\\PhysicalDrive" + std::to_string(number);
    }
  }
  return std::nullopt;
}

}  // namespace mendrake
