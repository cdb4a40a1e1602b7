#include "app/CommandLine.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <system_error>

#ifndef MENDRAKE_VERSION
#error "MENDRAKE_VERSION must be defined by the build"
#endif

namespace mendrake::window {
namespace {

// The options the application object takes for itself, and how many operands
// each has. Qt also accepts them with two dashes, and with =VALUE.
struct ToolkitOption {
  std::string_view name;
  int operands;
};

constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", 1},    {"platformpluginpath", 1}, {"platformtheme", 1}, {"plugin", 1},
    {"qwindowgeometry", 1}, {"qwindowicon", 1},   {"qwindowtitle", 1},  {"session", 1},
    {"style", 1},       {"stylesheet", 1},         {"display", 1},       {"geometry", 1},
    {"title", 1},       {"name", 1},               {"reverse", 0},       {"widgetcount", 0},
    {"testability", 0}, {"nograb", 0},             {"dograb", 0},        {"sync", 0},
};

const ToolkitOption* FindToolkitOption(std::string_view argument) {
  argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
  argument = argument.substr(0, argument.find('='));
  for (const ToolkitOption& option : kToolkitOptions) {
    if (option.name == argument) return &option;
  }
  return nullptr;
}

bool IsCrwName(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  return extension == ".crw";
}

// The CRW files directly inside a folder, sorted by name; nothing when the
// folder cannot be listed.
std::optional<std::vector<std::string>> CrwFilesIn(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return std::nullopt;
  std::vector<std::string> files;
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (error) return std::nullopt;
    std::error_code ignored;
    if (IsCrwName(entries->path()) && !entries->is_directory(ignored)) files.push_back(entries->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, const std::filesystem::path& workingFolder) {
  std::vector<std::string> files;
  for (const std::string& given : paths) {
    // An empty name is no folder: the run says it cannot be read.
    if (given.empty()) {
      files.push_back(given);
      continue;
    }
    const std::filesystem::path absolute = (workingFolder / given).lexically_normal();
    std::error_code error;
    if (std::filesystem::is_directory(absolute, error)) {
      // A folder with no CRW file in it goes on as itself: the run says what it is.
      if (auto inside = CrwFilesIn(absolute); inside && !inside->empty()) {
        files.insert(files.end(), inside->begin(), inside->end());
        continue;
      }
    }
    files.push_back(absolute.string());
  }
  return files;
}

CommandLine ParseCommandLine(std::span<const char* const> arguments, const std::filesystem::path& workingFolder) {
  CommandLine line;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      paths.emplace_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    } else if (argument == "--version") {
      line.action = CommandLine::Action::kVersion;
      return line;
    } else if (const ToolkitOption* option = FindToolkitOption(argument)) {
      if (option->operands > 0 && argument.find('=') == std::string_view::npos) ++i;
    } else {
      throw UsageError{"unknown option \"" + std::string(argument) + "\" (mendrake --help lists the options)"};
    }
  }
  line.files = ExpandPaths(paths, workingFolder);
  return line;
}

std::string HelpText() {
  return "Usage: mendrake [OPTION]... [--] [CRW-FILE-OR-FOLDER]...\n"
         "Opens Mendrake's window. Files given are repaired and opened at once, as if\n"
         "chosen with Repair/Open, in the order given; a folder stands for the CRW files\n"
         "directly inside it, sorted by name. With two or more files, each file's\n"
         "repaired copy and thumbnail are written next to it. No file given is ever\n"
         "changed.\n"
         "\n"
         "Options:\n"
         "  -h, --help              show this help and exit\n"
         "      --version           show the version and exit\n"
         "  --                      end of the options: what follows are file names\n"
         "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
         "\n"
         "Without a window: crwlog CRW-FILE... (crwlog --help).\n";
}

std::string VersionText() { return "mendrake (Mendrake) " MENDRAKE_VERSION "\n"; }

}  // namespace mendrake::window
