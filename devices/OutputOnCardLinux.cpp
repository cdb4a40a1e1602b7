#include "devices/OutputOnCard.h"

#include "devices/BlockDevices.h"
#include "devices/MountTable.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace mendrake {
namespace {

namespace fs = std::filesystem;

// A loop device's backing file may itself lie in a loop device; past this
// many steps the chain is taken to go nowhere.
constexpr int kMaxLoopNesting = 8;

// The devices whose writes land on the card: the device named and its
// partitions, or the loop devices bound to an image file and theirs.
std::vector<dev_t> CardDevices(const std::string& source) {
  std::vector<dev_t> card;
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0) return card;
  std::vector<dev_t> wholes;
  if (S_ISBLK(info.st_mode)) wholes.push_back(info.st_rdev);
  if (S_ISREG(info.st_mode)) wholes = LoopDevicesOf(source);
  for (const dev_t whole : wholes) {
    card.push_back(whole);
    for (const dev_t partition : PartitionsOf(whole)) card.push_back(partition);
  }
  return card;
}

// The folder, or the nearest folder above it that exists, without links.
fs::path ExistingFolder(const std::string& folder) {
  std::error_code error;
  fs::path path = fs::absolute(folder, error);
  while (!path.empty() && !fs::exists(path, error)) {
    if (path == path.parent_path()) break;
    path = path.parent_path();
  }
  const fs::path real = fs::canonical(path, error);
  return error ? path : real;
}

// The block device a mount reads, when its source names one.
std::optional<dev_t> MountedDevice(const Mount& mount) {
  struct stat info {};
  if (!mount.source.starts_with('/') || ::stat(mount.source.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) {
    return std::nullopt;
  }
  return info.st_rdev;
}

// The card device that writes to path end on, following loop devices to the
// file system of their backing file.
std::optional<dev_t> CardDeviceUnder(const fs::path& path, const std::vector<dev_t>& card,
                                     const std::vector<Mount>& mounts, int depth) {
  const auto onCard = [&](dev_t device) { return std::find(card.begin(), card.end(), device) != card.end(); };
  struct stat info {};
  if (depth > kMaxLoopNesting || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  if (onCard(info.st_dev)) return info.st_dev;
  std::vector<dev_t> underneath = {info.st_dev};
  if (const std::optional<Mount> mount = MountHolding(mounts, path.string())) {
    if (onCard(mount->device)) return mount->device;
    if (const std::optional<dev_t> source = MountedDevice(*mount)) {
      if (onCard(*source)) return source;
      underneath.push_back(*source);
    }
  }
  for (const dev_t device : underneath) {
    if (const std::optional<std::string> backing = LoopBackingFile(device)) {
      if (auto found = CardDeviceUnder(ExistingFolder(*backing), card, mounts, depth + 1)) return found;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> OutputFolderOnCard(const std::string& source, const std::string& outputFolder) {
  const std::vector<dev_t> card = CardDevices(source);
  if (card.empty()) return std::nullopt;
  const std::optional<dev_t> device = CardDeviceUnder(ExistingFolder(outputFolder), card, ReadMountTable(), 0);
  if (!device) return std::nullopt;
  return "/dev/" + DeviceName(*device);
}

}  // namespace mendrake
