#include "devices/RootCommand.h"

namespace mendrake {
namespace {

// cmd.exe takes a name in double quotes, which no Windows name contains.
std::string ForCmd(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t&()[]{}^=;!'+,`~%") == std::string::npos) return text;
  return "\"" + text + "\"";
}

}  // namespace

std::string RecoverAsRootCommand(const std::string& device, const std::string& outputFolder) {
  return "crwlog --recover " + ForCmd(device) + " " + ForCmd(outputFolder);
}

std::string ReadAccessAdvice(const std::string& device, const std::string& outputFolder) {
  return "To read it, open an administrator prompt (Start, type cmd, press Ctrl+Shift+Enter) and run: " +
         RecoverAsRootCommand(device, outputFolder);
}

}  // namespace mendrake
