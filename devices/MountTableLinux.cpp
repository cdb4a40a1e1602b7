#include "devices/MountTable.h"

#include "devices/BlockDevices.h"

#include <fstream>
#include <sstream>

namespace mendrake {
namespace {

// The kernel writes space, tab, newline and backslash in names as \ooo.
std::string Unescape(const std::string& field) {
  const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

bool IsFolderAbove(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return true;
  return path == mountPoint || (path.starts_with(mountPoint) && path[mountPoint.size()] == '/');
}

}  // namespace

std::vector<Mount> ReadMountTable(const std::string& path) {
  std::vector<Mount> mounts;
  std::ifstream table(path);
  for (std::string line; std::getline(table, line);) {
    // ID PARENT MAJ:MIN ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
    std::istringstream fields(line);
    std::string id, parent, number, root, mountPoint, options, field;
    if (!(fields >> id >> parent >> number >> root >> mountPoint >> options)) continue;
    while (fields >> field && field != "-") {
    }
    Mount mount;
    if (!(fields >> mount.fileSystem >> mount.source)) continue;
    const auto device = ParseDeviceNumber(number);
    if (!device) continue;
    mount.device = *device;
    mount.mountPoint = Unescape(mountPoint);
    mount.source = Unescape(mount.source);
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::optional<Mount> MountHolding(const std::vector<Mount>& mounts, const std::string& path) {
  std::optional<Mount> holding;
  for (const Mount& mount : mounts) {
    if (!IsFolderAbove(mount.mountPoint, path)) continue;
    if (!holding || mount.mountPoint.size() >= holding->mountPoint.size()) holding = mount;
  }
  return holding;
}

}  // namespace mendrake
