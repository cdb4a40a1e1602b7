#include "devices/RootCommand.h"

namespace mendrake {
namespace {

// Characters the shell reads as more than a letter of a name.
constexpr char kShellSpecial[] = " \t\n'\"\\$`!*?[]{}()<>|&;#~";

std::string ForShell(const std::string& text) {
  if (!text.empty() && text.find_first_of(kShellSpecial) == std::string::npos) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string RecoverAsRootCommand(const std::string& device, const std::string& outputFolder) {
  return "sudo crwlog --recover " + ForShell(device) + " " + ForShell(outputFolder);
}

std::string ReadAccessAdvice(const std::string& device, const std::string& outputFolder) {
  return "To read it, run the recovery as root: " + RecoverAsRootCommand(device, outputFolder);
}

}  // namespace mendrake
