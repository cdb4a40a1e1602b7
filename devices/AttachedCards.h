#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mendrake {

// One device or partition a card can be recovered from.
struct AttachedCard {
  std::string path;        // "/dev/sdb1"
  std::string wholePath;   // a partition's device ("/dev/sdb"); empty for a whole device
  std::int64_t size = 0;   // bytes
  std::string fileSystem;  // "FAT16", "FAT32", "exFAT", "ext4", ...; empty when none was found
  std::string partitionTable;  // "dos", "gpt" on a partitioned whole device; else empty
  std::string label;       // the volume label; may be empty
  std::string description; // vendor and model ("Generic CF Reader"), or a loop device's image file
  std::string mountPoint;  // where it is mounted; empty when it is not
  bool removable = false;  // a card, a removable drive or an imaged card; false: a fixed disk

  bool IsPartition() const { return !wholePath.empty(); }
};

// Where the kernel and udev describe block devices; tests point these at
// folders of their own.
struct DeviceTree {
  std::string sysBlock = "/sys/block";
  std::string devices = "/dev";
  // udev's database, readable by every user: the file system and label of a
  // device that this user may not open.
  std::string udevData = "/run/udev/data";
  std::string mountInfo = "/proc/self/mountinfo";
};

// The cards and removable drives attached, each followed by its partitions:
// USB and SD/MMC devices, devices whose medium is removable (card readers),
// and loop devices that hold a FAT or exFAT file system or none (imaged cards;
// not the squashfs images that package systems mount). Devices without a
// medium are left out, and fixed disks unless allDrives is set. File systems
// and labels are probed with libblkid where the device can be opened, and
// read from udev's database where not.
std::vector<AttachedCard> ListAttachedCards(bool allDrives = false, const DeviceTree& tree = {});

// What changes when a card is put in or taken out, a device appears or goes,
// or a file system is mounted: the devices and partitions under sysBlock with
// their sizes, and the mount table. Read without opening any device, so it
// can be asked every second; the list is read again only when it changed.
std::string DeviceTreeState(const DeviceTree& tree = {});

// "512 MiB", "1.9 GiB", "15 GiB": the size as the card's box would round it.
std::string DeviceSizeText(std::int64_t bytes);

// One line per device or partition, columns aligned:
// "/dev/sdb1  512 MiB  FAT16  EOS_DIGITAL  Generic CF Reader".
std::string CardListText(const std::vector<AttachedCard>& cards);

}  // namespace mendrake
