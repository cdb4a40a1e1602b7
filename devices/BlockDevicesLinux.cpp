#include "devices/BlockDevices.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace mendrake {
namespace {

namespace fs = std::filesystem;

constexpr char kSysDevBlock[] = "/sys/dev/block/";
constexpr char kSysBlock[] = "/sys/block";
// The kernel appends this to a loop device's backing file once the file is unlinked.
constexpr std::string_view kDeletedMark = " (deleted)";

}  // namespace

std::string ReadSysfsLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

std::string DeviceNumberText(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::optional<dev_t> ParseDeviceNumber(const std::string& text) {
  unsigned majorNumber = 0, minorNumber = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u:%u%c", &majorNumber, &minorNumber, &tail) != 2) return std::nullopt;
  return makedev(majorNumber, minorNumber);
}

std::string SysfsFolderOf(dev_t device) {
  std::error_code error;
  const fs::path folder = fs::canonical(kSysDevBlock + DeviceNumberText(device), error);
  return error ? std::string() : folder.string();
}

std::vector<dev_t> PartitionsOf(dev_t device) {
  std::vector<dev_t> partitions;
  const std::string folder = SysfsFolderOf(device);
  if (folder.empty()) return partitions;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (!fs::exists(entry.path() / "partition", error)) continue;
    if (const auto number = ParseDeviceNumber(ReadSysfsLine(entry.path() / "dev"))) partitions.push_back(*number);
  }
  return partitions;
}

std::optional<std::string> LoopBackingFile(dev_t device) {
  const std::string folder = SysfsFolderOf(device);
  if (folder.empty()) return std::nullopt;
  std::string file = ReadSysfsLine(folder + "/loop/backing_file");
  if (file.empty()) return std::nullopt;
  if (file.ends_with(kDeletedMark)) file.resize(file.size() - kDeletedMark.size());
  return file;
}

std::vector<dev_t> LoopDevicesOf(const std::string& path) {
  std::vector<dev_t> devices;
  struct stat wanted {};
  if (::stat(path.c_str(), &wanted) != 0) return devices;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(kSysBlock, error)) {
    if (!entry.path().filename().string().starts_with("loop")) continue;
    const std::string backing = ReadSysfsLine(entry.path() / "loop" / "backing_file");
    struct stat held {};
    if (backing.empty() || ::stat(backing.c_str(), &held) != 0) continue;
    if (held.st_dev != wanted.st_dev || held.st_ino != wanted.st_ino) continue;
    if (const auto number = ParseDeviceNumber(ReadSysfsLine(entry.path() / "dev"))) devices.push_back(*number);
  }
  return devices;
}

std::string DeviceName(dev_t device) {
  const std::string folder = SysfsFolderOf(device);
  return folder.empty() ? DeviceNumberText(device) : fs::path(folder).filename().string();
}

}  // namespace mendrake
