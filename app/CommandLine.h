#pragma once

// The window program's command line. Knows nothing of Qt, so that --help and
// --version answer before any display is opened, and so that it is tested
// without a window.

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace mendrake::window {

// The exit status of a command line the program cannot carry out.
inline constexpr int kExitUsageError = 2;

struct CommandLine {
  enum class Action { kOpen, kHelp, kVersion };
  Action action = Action::kOpen;
  // The files to run "&Repair/Open" on, in the order given, absolute, each
  // folder replaced by the CRW files directly inside it. Empty: just the window.
  std::vector<std::string> files;
};

// A command line the program cannot carry out; the message says why in one line.
struct UsageError {
  std::string message;
};

// Reads the arguments after the program name; relative paths are taken from
// workingFolder. The options of Qt's own (-platform NAME, -style=NAME, ...)
// are passed over: the application object reads them. Throws UsageError.
CommandLine ParseCommandLine(std::span<const char* const> arguments, const std::filesystem::path& workingFolder);

// The files the given paths stand for, in order, absolute: a folder stands for
// the CRW files directly inside it (.crw in either letter case), sorted by
// name. A path that does not exist, a folder that cannot be listed or one with
// no CRW file in it is kept as it is, so the run names it with its reason.
std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, const std::filesystem::path& workingFolder);

std::string HelpText();
std::string VersionText();

}  // namespace mendrake::window
