#include "devices/AttachedCards.h"

#include "devices/BlockDevices.h"
#include "devices/MountTable.h"

#include <blkid.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace mendrake {
namespace {

namespace fs = std::filesystem;

// Sysfs counts a device's size in sectors of this many bytes, whatever the
// device's own sector size.
constexpr std::int64_t kSysfsSector = 512;

// RAM disks and compressed swap: never a card, not even among all drives.
bool IsMemoryDevice(const std::string& name) { return name.starts_with("ram") || name.starts_with("zram"); }

// What the device holds, as libblkid or udev found it.
struct Contents {
  std::string type;     // libblkid's TYPE: "vfat", "exfat", "squashfs", ...
  std::string version;  // "FAT16" for vfat
  std::string label;
  std::string partitionTable;
};

// Reads the superblocks and the partition table of the device. False when
// the device cannot be opened (no read access, most often).
bool ProbeWithBlkid(const std::string& device, Contents& contents) {
  blkid_probe probe = blkid_new_probe_from_filename(device.c_str());
  if (probe == nullptr) return false;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe, 1);
  if (blkid_do_safeprobe(probe) == 0) {
    const auto value = [probe](const char* name) {
      const char* text = nullptr;
      return blkid_probe_lookup_value(probe, name, &text, nullptr) == 0 && text ? std::string(text) : std::string();
    };
    contents = {value("TYPE"), value("VERSION"), value("LABEL"), value("PTTYPE")};
  }
  blkid_free_probe(probe);
  return true;
}

// udev's record of a device ("E:KEY=VALUE" lines), as udisks reads it too.
Contents ReadUdevRecord(const std::string& udevData, const std::string& number) {
  Contents contents;
  std::ifstream record(udevData + "/b" + number);
  for (std::string line; std::getline(record, line);) {
    const auto take = [&line](std::string_view key, std::string& into) {
      if (line.starts_with(key)) into = line.substr(key.size());
    };
    take("E:ID_FS_TYPE=", contents.type);
    take("E:ID_FS_VERSION=", contents.version);
    take("E:ID_FS_LABEL=", contents.label);
    take("E:ID_PART_TABLE_TYPE=", contents.partitionTable);
  }
  return contents;
}

// The file system's name as its users call it.
std::string FileSystemName(const Contents& contents) {
  if (contents.type == "vfat") return contents.version.empty() ? "FAT" : contents.version;
  if (contents.type == "exfat") return "exFAT";
  if (contents.type == "ntfs") return "NTFS";
  return contents.type;
}

// Words padded with spaces in fixed-width SCSI fields, joined by one space.
std::string Tidy(const std::string& text) {
  std::string tidy;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ' && text[i] != '\t') {
      if (!tidy.empty() && (text[i - 1] == ' ' || text[i - 1] == '\t')) tidy += ' ';
      tidy += text[i];
    }
  }
  return tidy;
}

std::string Description(const fs::path& folder, const std::string& name) {
  if (name.starts_with("loop")) return ReadSysfsLine(folder / "loop" / "backing_file");
  std::string vendor = Tidy(ReadSysfsLine(folder / "device" / "vendor"));
  // Virtual disks give their bus's vendor number ("0x1af4"), not a name.
  if (vendor.starts_with("0x")) vendor.clear();
  const std::string model = Tidy(ReadSysfsLine(folder / "device" / "model"));
  if (!model.empty()) return vendor.empty() || model.starts_with(vendor) ? model : vendor + " " + model;
  // SD and MMC cards name themselves ("SD16G").
  const std::string card = Tidy(ReadSysfsLine(folder / "device" / "name"));
  return card.empty() ? vendor : card;
}

// A card or a drive meant to be taken out, as opposed to a fixed disk.
bool IsRemovable(const fs::path& folder, const std::string& name) {
  if (ReadSysfsLine(folder / "removable") == "1") return true;
  std::error_code error;
  const std::string real = fs::canonical(folder, error).string();
  if (real.find("/usb") != std::string::npos) return true;
  // An SD card; "MMC" is the soldered eMMC of laptops and boards.
  return name.starts_with("mmcblk") && ReadSysfsLine(folder / "device" / "type") == "SD";
}

// An imaged card on a loop device holds FAT, exFAT or nothing found; other
// loop devices carry packages (squashfs) or other systems' disks.
bool HoldsCardFileSystem(const Contents& contents) {
  return contents.type.empty() || contents.type == "vfat" || contents.type == "exfat";
}

class Lister {
 public:
  Lister(bool allDrives, const DeviceTree& tree) : allDrives_(allDrives), tree_(tree), mounts_(ReadMountTable(tree.mountInfo)) {}

  std::vector<AttachedCard> List() {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(tree_.sysBlock, error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) AddDevice(name);
    return cards_;
  }

 private:
  void AddDevice(const std::string& name) {
    if (IsMemoryDevice(name)) return;
    const fs::path folder = fs::path(tree_.sysBlock) / name;
    AttachedCard whole = Describe(folder, name);
    // No medium in the reader, or a loop device bound to nothing.
    if (whole.size == 0) return;
    const Contents contents = Probe(folder, whole);
    whole.removable = IsRemovable(folder, name) || (name.starts_with("loop") && HoldsCardFileSystem(contents));
    if (!whole.removable && !allDrives_) return;
    whole.description = Description(folder, name);
    cards_.push_back(whole);
    for (const std::string& partition : PartitionNames(folder)) {
      AttachedCard part = Describe(folder / partition, partition);
      Probe(folder / partition, part);
      part.wholePath = whole.path;
      part.removable = whole.removable;
      part.description = whole.description;
      cards_.push_back(part);
    }
  }

  AttachedCard Describe(const fs::path& folder, const std::string& name) const {
    AttachedCard card;
    card.path = (fs::path(tree_.devices) / name).string();
    long long sectors = 0;
    if (std::sscanf(ReadSysfsLine(folder / "size").c_str(), "%lld", &sectors) == 1) card.size = sectors * kSysfsSector;
    return card;
  }

  Contents Probe(const fs::path& folder, AttachedCard& card) const {
    const std::string number = ReadSysfsLine(folder / "dev");
    Contents contents;
    if (!ProbeWithBlkid(card.path, contents)) contents = ReadUdevRecord(tree_.udevData, number);
    card.fileSystem = FileSystemName(contents);
    card.label = contents.label;
    card.partitionTable = contents.partitionTable;
    const std::optional<dev_t> device = ParseDeviceNumber(number);
    for (const Mount& mount : mounts_) {
      if (mount.source == card.path || (device && mount.device == *device && mount.source.starts_with('/'))) {
        card.mountPoint = mount.mountPoint;
      }
    }
    return contents;
  }

  static std::vector<std::string> PartitionNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
      if (fs::exists(entry.path() / "partition", error)) names.push_back(entry.path().filename().string());
    }
    // sdb2 before sdb10.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
  }

  bool allDrives_;
  const DeviceTree& tree_;
  std::vector<Mount> mounts_;
  std::vector<AttachedCard> cards_;
};

}  // namespace

std::vector<AttachedCard> ListAttachedCards(bool allDrives, const DeviceTree& tree) {
  return Lister(allDrives, tree).List();
}

std::string DeviceTreeState(const DeviceTree& tree) {
  std::string state;
  std::error_code error;
  for (const fs::directory_entry& device : fs::directory_iterator(tree.sysBlock, error)) {
    state += device.path().filename().string() + "=" + ReadSysfsLine(device.path() / "size") + ";";
    for (const fs::directory_entry& entry : fs::directory_iterator(device.path(), error)) {
      if (fs::exists(entry.path() / "partition", error)) {
        state += entry.path().filename().string() + "=" + ReadSysfsLine(entry.path() / "size") + ";";
      }
    }
  }
  std::ifstream mounts(tree.mountInfo);
  state.append(std::istreambuf_iterator<char>(mounts), std::istreambuf_iterator<char>());
  return state;
}

}  // namespace mendrake
