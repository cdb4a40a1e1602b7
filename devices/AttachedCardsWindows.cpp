// The drives attached to a Windows machine, by letter: removable drives (card
// readers, USB sticks) and, with allDrives, the fixed ones. Each with its
// label, file system and length as the drive itself reports them; a drive
// without a medium (an empty card reader) is left out.
#include "devices/AttachedCards.h"

#include "files/WideText.h"

#include <windows.h>
#include <winioctl.h>

namespace mendrake {
namespace {

// The drive's length from the disk; without administrator rights the volume
// cannot be opened for reading, but its length can still be asked.
std::int64_t DriveLength(char letter) {
  const std::wstring device = std::wstring(L"\\\\.\\") + static_cast<wchar_t>(letter) + L":";
  const HANDLE handle = ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  const bool known = ::DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                                       &returned, nullptr) != 0;
  ::CloseHandle(handle);
  return known ? length.Length.QuadPart : 0;
}

}  // namespace

std::vector<AttachedCard> ListAttachedCards(bool allDrives, const DeviceTree& /*tree*/) {
  std::vector<AttachedCard> cards;
  const DWORD letters = ::GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((letters & (DWORD{1} << i)) == 0) continue;
    const char letter = static_cast<char>('A' + i);
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(letter)) + L":\\";
    const UINT type = ::GetDriveTypeW(root.c_str());
    const bool removable = type == DRIVE_REMOVABLE;
    if (!removable && !(allDrives && type == DRIVE_FIXED)) continue;
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    // Fails for a drive without a medium: nothing to recover from there.
    if (!::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, fileSystem,
                                 MAX_PATH + 1)) {
      continue;
    }
    AttachedCard card;
    card.path = std::string(1, letter) + ":";
    card.label = Utf8FromWide(label);
    card.fileSystem = Utf8FromWide(fileSystem);
    card.size = DriveLength(letter);
    if (card.size == 0) {
      ULARGE_INTEGER total{};
      if (::GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr)) card.size = static_cast<std::int64_t>(total.QuadPart);
    }
    card.description = removable ? "removable drive" : "fixed drive";
    card.mountPoint = card.path + "\\";
    card.removable = removable;
    cards.push_back(card);
  }
  return cards;
}

std::string DeviceTreeState(const DeviceTree& /*tree*/) {
  std::string state = std::to_string(::GetLogicalDrives());
  return state;
}

}  // namespace mendrake
