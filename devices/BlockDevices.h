#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mendrake {

// What the kernel tells of block devices under /sys, by device number.
// Sysfs is read as any user may read it; nothing here opens a device.

// The device's folder in sysfs (/sys/dev/block/MAJ:MIN resolved), or empty
// when the number names no block device.
std::string SysfsFolderOf(dev_t device);

// The partitions the kernel found on a whole device (loop0p1, sdb1, ...).
std::vector<dev_t> PartitionsOf(dev_t device);

// The file a loop device reads and writes, when the device is a loop device
// bound to a file; the kernel's " (deleted)" mark is taken off.
std::optional<std::string> LoopBackingFile(dev_t device);

// The loop devices (/sys/block/loop*) bound to the file at path, by its
// identity: a second name of the file finds them too.
std::vector<dev_t> LoopDevicesOf(const std::string& path);

// The device name under /dev the kernel gives (sdb1), or MAJ:MIN when sysfs
// does not say.
std::string DeviceName(dev_t device);

// "MAJ:MIN" as sysfs and mountinfo write device numbers.
std::string DeviceNumberText(dev_t device);
std::optional<dev_t> ParseDeviceNumber(const std::string& text);

// The first line of a small sysfs file, without its newline; empty when it
// cannot be read.
std::string ReadSysfsLine(const std::string& path);

}  // namespace mendrake
