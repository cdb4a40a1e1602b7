#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mendrake::crwlog {

// What crwlog's exit status tells a script.
enum ExitStatus : int {
  kExitAllRepaired = 0,     // every file is a CRW file and its true size was found
  kExitSomeNotRepaired = 1, // the run went through; some file is not a CRW file or its size was not found
  kExitNotCarriedOut = 2,   // a usage error, a file that cannot be read, an output that cannot be written
};

struct Options {
  enum class Action { kRun, kHelp, kVersion, kRecover, kListCards };
  Action action = Action::kRun;
  std::string previewPpm;          // --preview-ppm: where the last preview goes, or empty
  std::vector<std::string> files;  // the CRW files, as given
  std::string recoverImage;        // --recover: the card or its image
  std::string recoverFolder;       // --recover: where the files found go
  bool allDrives = false;          // --all-drives: --list-cards lists fixed disks too
  bool recoverAll = false;         // --all: also the files the card still lists
  std::string saveImage;           // --save-image: where the card's image goes, or empty
  std::optional<std::int64_t> start;  // --start: where the scan begins
};

// A command line that crwlog cannot carry out; the message says why in one line.
struct UsageError {
  std::string message;
};

// Reads the arguments after the program name. Options may come before, among
// or after the files, until "--". Throws UsageError.
Options ParseOptions(std::span<const char* const> arguments);

// --help: what crwlog does, its options and its exit statuses.
std::string HelpText();
std::string VersionText();

}  // namespace mendrake::crwlog
