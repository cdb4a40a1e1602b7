#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mendrake {

// One line of /proc/self/mountinfo.
struct Mount {
  dev_t device = 0;        // the number st_dev shows for files of this mount
  std::string mountPoint;  // unescaped
  std::string fileSystem;  // "ext4", "vfat", ...
  std::string source;      // "/dev/sdb1", "tmpfs", ...; unescaped
};

// The mounts this process sees, in the kernel's order (a later mount on the
// same point hides an earlier one).
std::vector<Mount> ReadMountTable(const std::string& path = "/proc/self/mountinfo");

// The mount whose file system holds the absolute, symlink-free path: the last
// of the longest mount points that are the path or a folder above it.
std::optional<Mount> MountHolding(const std::vector<Mount>& mounts, const std::string& path);

}  // namespace mendrake
