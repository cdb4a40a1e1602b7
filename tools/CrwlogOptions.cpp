#include "tools/CrwlogOptions.h"

#include "files/ControlBytes.h"

#include <cstdint>
#include <string_view>

#ifndef MENDRAKE_VERSION
#error "MENDRAKE_VERSION must be defined by the build"
#endif

namespace mendrake::crwlog {
namespace {

// A byte position as a decimal number.
std::int64_t ByteCount(const std::string& text) {
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10) {
      throw UsageError{"--start takes a number of bytes, not \"" + EscapeControlBytes(text) + "\""};
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

// One row per option: a new option is a row here and a field in Options.
struct OptionRule {
  std::string_view name;
  std::string_view shortName;  // or empty
  std::string_view operands;   // shown in the help, one word per operand
  std::string_view help;
  void (*apply)(Options& options, std::span<const std::string> operands);
};

constexpr OptionRule kRules[] = {
    {"--preview-ppm", "", "FILE", "also write the last preview as a binary PPM picture",
     [](Options& options, std::span<const std::string> operands) { options.previewPpm = operands[0]; }},
    {"--recover", "", "IMAGE OUTDIR", "recover every CRW file of a card or card image into OUTDIR",
     [](Options& options, std::span<const std::string> operands) {
       options.action = Options::Action::kRecover;
       options.recoverImage = operands[0];
       options.recoverFolder = operands[1];
     }},
    {"--save-image", "", "CARD-IMAGE",
     "with --recover: also keep what is read in CARD-IMAGE, with a ddrescue mapfile CARD-IMAGE.map",
     [](Options& options, std::span<const std::string> operands) { options.saveImage = operands[0]; }},
    {"--start", "", "BYTES", "with --recover: begin at byte BYTES, where a scan stopped",
     [](Options& options, std::span<const std::string> operands) { options.start = ByteCount(operands[0]); }},
    {"--list-cards", "", "", "list the cards and removable drives attached",
     [](Options& options, std::span<const std::string>) { options.action = Options::Action::kListCards; }},
    {"--all-drives", "", "", "with --list-cards: list the fixed disks too",
     [](Options& options, std::span<const std::string>) { options.allDrives = true; }},
    {"--all", "", "", "with --recover, also the files the card's FAT still lists",
     [](Options& options, std::span<const std::string>) { options.recoverAll = true; }},
    {"--help", "-h", "", "show this help and exit",
     [](Options& options, std::span<const std::string>) { options.action = Options::Action::kHelp; }},
    {"--version", "", "", "show the version and exit",
     [](Options& options, std::span<const std::string>) { options.action = Options::Action::kVersion; }},
};

std::size_t OperandCount(const OptionRule& rule) {
  if (rule.operands.empty()) return 0;
  std::size_t count = 1;
  for (const char c : rule.operands) count += c == ' ' ? 1 : 0;
  return count;
}

const OptionRule* FindRule(std::string_view name) {
  for (const OptionRule& rule : kRules) {
    if (name == rule.name || (!rule.shortName.empty() && name == rule.shortName)) return &rule;
  }
  return nullptr;
}

std::string Quoted(std::string_view text) { return "\"" + EscapeControlBytes(text) + "\""; }

// Applies the option at arguments[at] (also in the form --name=VALUE) and
// returns the index of the argument after it and its operands.
std::size_t ApplyOption(std::span<const char* const> arguments, std::size_t at, Options& options) {
  std::string_view name = arguments[at];
  std::vector<std::string> operands;
  if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
    operands.emplace_back(name.substr(equals + 1));
    name = name.substr(0, equals);
  }
  const OptionRule* rule = FindRule(name);
  if (rule == nullptr) throw UsageError{"unknown option " + Quoted(name) + " (crwlog --help lists the options)"};
  const std::size_t wanted = OperandCount(*rule);
  if (operands.size() > wanted) throw UsageError{std::string(rule->name) + " takes no value"};
  std::size_t next = at + 1;
  while (operands.size() < wanted && next < arguments.size()) operands.emplace_back(arguments[next++]);
  if (operands.size() < wanted) throw UsageError{std::string(rule->name) + " needs " + std::string(rule->operands)};
  for (const std::string& operand : operands) {
    if (operand.empty()) throw UsageError{std::string(rule->name) + " was given an empty " + std::string(rule->operands)};
  }
  rule->apply(options, operands);
  return next;
}

}  // namespace

Options ParseOptions(std::span<const char* const> arguments) {
  Options options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size();) {
    const std::string_view argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      options.files.emplace_back(argument);
      ++i;
    } else if (argument == "--") {
      optionsEnded = true;
      ++i;
    } else {
      i = ApplyOption(arguments, i, options);
      // Help and version are all that is done: what follows them is not looked at.
      if (options.action == Options::Action::kHelp || options.action == Options::Action::kVersion) return options;
    }
  }
  if (options.recoverAll && options.action != Options::Action::kRecover) throw UsageError{"--all goes with --recover; usage: crwlog --recover IMAGE OUTDIR --all"};
  if (!options.saveImage.empty() && options.action != Options::Action::kRecover) throw UsageError{"--save-image goes with --recover; usage: crwlog --recover IMAGE OUTDIR --save-image CARD-IMAGE"};
  if (options.start && options.action != Options::Action::kRecover) throw UsageError{"--start goes with --recover; usage: crwlog --recover IMAGE OUTDIR --start BYTES"};
  if (options.action == Options::Action::kRecover && !options.files.empty()) throw UsageError{"--recover takes no CRW file; usage: crwlog --recover IMAGE OUTDIR"};
  if (options.action == Options::Action::kListCards && !options.files.empty()) throw UsageError{"--list-cards takes no CRW file"};
  if (options.allDrives && options.action != Options::Action::kListCards) throw UsageError{"--all-drives goes with --list-cards"};
  // The repair needs a file; an action of its own may need none.
  if (options.action == Options::Action::kRun && options.files.empty()) throw UsageError{"no CRW file was given; usage: crwlog [OPTION]... [--] CRW-FILE..."};
  return options;
}

std::string HelpText() {
  constexpr std::size_t kHelpColumn = 24;
  std::string text =
      "Usage: crwlog [OPTION]... [--] CRW-FILE...\n"
      "Finds the true size of each Canon CRW file and prints what the file holds,\n"
      "as Mendrake's window shows it. With two or more files, writes each file's\n"
      "repaired copy and thumbnail next to it. No file given is ever changed.\n"
      "\n"
      "Options:\n";
  for (const OptionRule& rule : kRules) {
    std::string names = rule.shortName.empty() ? "    " : std::string(rule.shortName) + ", ";
    names += std::string(rule.name) + (rule.operands.empty() ? "" : " " + std::string(rule.operands));
    text += "  " + names + std::string(names.size() < kHelpColumn ? kHelpColumn - names.size() : 1, ' ') + std::string(rule.help) + "\n";
  }
  text +=
      "  --                      end of the options: what follows are file names\n"
      "\n"
      "Exit status:\n"
      "  0  every file is a CRW file and its true size was found\n"
      "  1  the run went through, but some file is not a CRW file or its true size\n"
      "     was not found\n"
      "  2  the run could not be carried out: a usage error, a file that cannot be\n"
      "     read, an output that cannot be written (the --preview-ppm picture too,\n"
      "     when no preview was shown)\n"
      "With --recover: 0 every file found was recovered, 1 some were damaged, no CRW\n"
      "came back (also when every one is still listed on the card) or the scan\n"
      "stopped before the card's end, 2 the card, the folder or the image could not\n"
      "be used, or the output disk filled up. Files the card's FAT still lists are\n"
      "counted, not copied, unless --all is given; a file written in two pieces is\n"
      "joined only where one reading alone passes every check, and its line says\n"
      "so. A scan stops where the card is gone from its reader or 64 MiB in a row\n"
      "cannot be read; its last line gives the --start that goes on from there,\n"
      "into the same --save-image. With --list-cards: 0, also when no card is\n"
      "attached.\n"
      "\n"
      "Names and times of recovered files (--recover):\n"
      "  A photo takes the name its camera recorded in the file (CRW_1234.CRW);\n"
      "  without one, the name the card's FAT directory gives it; without that,\n"
      "  its file number (CRW_1234); without that, its place on the card\n"
      "  (CRW_at_1048576.CRW). A name already taken gets \" (2)\", \" (3)\", ....\n"
      "  Its thumbnail goes beside it as CRW_1234.jpg, and the camera's THM file,\n"
      "  found on the card by its EXIF shot time, as CRW_1234.THM. Each file is\n"
      "  dated to the photo's shot time: the camera's clock, read as local time;\n"
      "  a file that records none is dated to the time it was written. A damaged\n"
      "  file's own full-size JPEG, where it lies whole in the bytes kept, goes\n"
      "  beside it as CRW_at_1048576.jpg. A photo the card's directories name\n"
      "  that did not come back has a line of its own.\n";
  return text;
}

std::string VersionText() { return "crwlog (Mendrake) " MENDRAKE_VERSION "\n"; }

}  // namespace mendrake::crwlog
