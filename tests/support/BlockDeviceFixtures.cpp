#include "tests/support/BlockDeviceFixtures.h"

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace mendrake::testing {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int RunShell(const std::string& command, std::string* output) {
  // The tools' complaints are not the test's output; a command may send them elsewhere itself.
  FILE* pipe = ::popen(("(" + command + ") 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output) output->append(buffer, n);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WhyNoLoopDevices() {
  if (!std::filesystem::exists("/dev/loop-control")) return "/dev/loop-control is missing: no loop driver here";
  if (::geteuid() != 0) return "setting up loop devices needs root";
  if (RunShell("command -v losetup") != 0) return "losetup (util-linux) is not installed";
  return {};
}

LoopDevice::LoopDevice(const std::string& image) {
  std::string output;
  if (RunShell("losetup --find --show " + ShellQuoted(image), &output) != 0) return;
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  path_ = output;
}

LoopDevice::~LoopDevice() {
  if (!path_.empty()) RunShell("losetup --detach " + ShellQuoted(path_));
}

MountedFolder::MountedFolder(const std::string& source, const std::string& folder, const std::string& options,
                             const std::string& type)
    : folder_(folder) {
  std::filesystem::create_directories(folder);
  std::string command = "mount";
  if (!type.empty()) command += " -t " + ShellQuoted(type);
  if (!options.empty()) command += " -o " + ShellQuoted(options);
  mounted_ = RunShell(command + " " + ShellQuoted(source) + " " + ShellQuoted(folder)) == 0;
}

MountedFolder::~MountedFolder() {
  // Lazily: a file the test left open must not keep the mount (and its loop device) behind.
  if (mounted_) RunShell("umount --lazy " + ShellQuoted(folder_));
}

bool MountedFolder::Remount(const std::string& options) {
  return mounted_ && RunShell("mount -o " + ShellQuoted("remount," + options) + " " + ShellQuoted(folder_)) == 0;
}

}  // namespace mendrake::testing
