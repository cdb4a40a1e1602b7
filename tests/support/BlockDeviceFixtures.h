#pragma once

#include <string>

namespace mendrake::testing {

// Real block devices for tests: loop devices over image files, and file
// systems mounted on them. They need root and the loop driver; a test asks
// WhyNoLoopDevices() first and skips with its answer.

// Empty when loop devices can be set up here; otherwise why not.
std::string WhyNoLoopDevices();

// Runs a shell command; returns its exit status and, in output, what it
// printed on standard output.
int RunShell(const std::string& command, std::string* output = nullptr);

// A loop device bound to an image file for the life of the object; it is
// detached at the end, whatever the test did.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  // "/dev/loop3"; empty when it could not be set up.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A file system mounted on folder (created when missing) for the life of the
// object, unmounted at the end. source is a device or "tmpfs".
class MountedFolder {
 public:
  MountedFolder(const std::string& source, const std::string& folder, const std::string& options = {},
                const std::string& type = {});
  ~MountedFolder();
  MountedFolder(const MountedFolder&) = delete;
  MountedFolder& operator=(const MountedFolder&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& folder() const { return folder_; }
  // Mounts again with other options (a tmpfs given more room, say).
  bool Remount(const std::string& options);

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Single quotes around text for the shell.
std::string ShellQuoted(const std::string& text);

}  // namespace mendrake::testing
