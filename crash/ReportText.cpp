#include "crash/ReportText.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <signal.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifndef MENDRAKE_VERSION
#error "MENDRAKE_VERSION must be defined by the build"
#endif

namespace mendrake::crash {
namespace {

std::string Hex(std::uint64_t value, int width = 0) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64, width, value);
  return text;
}

std::string Demangle(const char* name) {
  if (name == nullptr) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

void Section(std::ostringstream& out, const char* title) {
  out << '\n' << title << '\n' << std::string(std::strlen(title), '=') << "\n\n";
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

std::string CodeName(int signal, int code) {
  if (code == SI_USER) return "SI_USER (sent by kill)";
  if (code == SI_TKILL) return "SI_TKILL (sent by tgkill or raise)";
  struct Code {
    int signal, code;
    const char* name;
  };
  static constexpr Code kCodes[] = {
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR (address not mapped)"},
      {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR (no permission for the access)"},
      {SIGBUS, BUS_ADRALN, "BUS_ADRALN (misaligned address)"},
      {SIGBUS, BUS_ADRERR, "BUS_ADRERR (no such physical address; a mapped file shrank?)"},
      {SIGFPE, FPE_INTDIV, "FPE_INTDIV (integer divide by zero)"},
      {SIGFPE, FPE_INTOVF, "FPE_INTOVF (integer overflow)"},
      {SIGILL, ILL_ILLOPC, "ILL_ILLOPC (illegal opcode)"},
  };
  for (const Code& known : kCodes) {
    if (known.signal == signal && known.code == code) return known.name;
  }
  return std::to_string(code);
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string FieldOf(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) == 0) {
      const std::size_t value = line.find_first_not_of(" \t:=", key.size());
      return value == std::string::npos ? std::string() : line.substr(value);
    }
  }
  return {};
}

// The module list of the crashed process, read from its memory map as it was
// at the fault, with the ELF files found on disk by their paths.
class Symbols {
 public:
  explicit Symbols(std::string_view maps) {
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                             nullptr};
    dwfl_ = dwfl_begin(&callbacks);
    if (dwfl_ == nullptr) return;
    std::string copy(maps);
    dwfl_report_begin(dwfl_);
    if (FILE* file = fmemopen(copy.data(), copy.size(), "r")) {
      dwfl_linux_proc_maps_report(dwfl_, file);
      std::fclose(file);
    }
    dwfl_report_end(dwfl_, nullptr, nullptr);
  }
  ~Symbols() {
    if (dwfl_ != nullptr) dwfl_end(dwfl_);
  }
  Symbols(const Symbols&) = delete;
  Symbols& operator=(const Symbols&) = delete;

  Dwfl* Handle() const { return dwfl_; }

  static std::string BuildId(Dwfl_Module* module) {
    // The id is read from the ELF file, opened on first use.
    GElf_Addr bias = 0;
    dwfl_module_getelf(module, &bias);
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    const int length = dwfl_module_build_id(module, &bits, &vaddr);
    std::string id;
    char pair[3];
    for (int i = 0; i < length; ++i) {
      std::snprintf(pair, sizeof pair, "%02x", bits[i]);
      id += pair;
    }
    return id.empty() ? "(none)" : id;
  }

  // One line per function at the address: the inlined calls first, innermost
  // outwards, then the function the code belongs to.
  std::vector<std::string> Describe(std::uint64_t address, std::uint64_t lookup) const {
    Dwfl_Module* module = dwfl_ != nullptr ? dwfl_addrmodule(dwfl_, lookup) : nullptr;
    if (module == nullptr) return {Hex(address, 16) + "  ?? (in no known module)"};
    Dwarf_Addr start = 0;
    const char* path = dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
    const std::string where = "  [" + std::filesystem::path(path ? path : "?").filename().string() + "+" +
                              Hex(lookup - start + (address - lookup)) + "]";

    std::vector<std::string> lines = InlinedChain(module, lookup);
    if (!lines.empty()) {
      lines.front() = Hex(address, 16) + "  " + lines.front();
      for (std::size_t i = 1; i < lines.size(); ++i) lines[i] = std::string(18, ' ') + lines[i];
      lines.back() += where;
      return lines;
    }
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char* name = dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr);
    std::string line = Hex(address, 16) + "  " + (name ? Demangle(name) + " + " + Hex(offset) : std::string("??"));
    // Without a function in the debug information a source line would be a
    // guess from the nearest compile unit: module and offset say more.
    return {line + where};
  }

 private:
  static std::string NameOf(Dwarf_Die* die) {
    Dwarf_Attribute attribute;
    for (const int name : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name}) {
      if (dwarf_attr_integrate(die, name, &attribute) != nullptr) {
        if (const char* linkage = dwarf_formstring(&attribute)) return Demangle(linkage);
      }
    }
    const char* plain = dwarf_diename(die);
    return plain != nullptr ? plain : "??";
  }

  static std::string CallSite(Dwarf_Die* cu, Dwarf_Die* inlined) {
    Dwarf_Attribute attribute;
    Dwarf_Word file = 0, line = 0;
    if (dwarf_formudata(dwarf_attr(inlined, DW_AT_call_file, &attribute), &file) != 0) return {};
    dwarf_formudata(dwarf_attr(inlined, DW_AT_call_line, &attribute), &line);
    Dwarf_Files* files = nullptr;
    std::size_t count = 0;
    if (dwarf_getsrcfiles(cu, &files, &count) != 0 || file >= count) return {};
    const char* name = dwarf_filesrc(files, file, nullptr, nullptr);
    return name ? std::string(name) + ":" + std::to_string(line) : std::string();
  }

  // The DWARF scopes at the address: every inlined call that the optimiser
  // folded into the one machine frame, each with its own source line.
  static std::vector<std::string> InlinedChain(Dwfl_Module* module, std::uint64_t address) {
    Dwarf_Addr bias = 0;
    Dwarf_Die* cu = dwfl_module_addrdie(module, address, &bias);
    if (cu == nullptr) return {};
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes(cu, address - bias, &scopes);
    if (count <= 0) return {};
    std::string location;
    if (Dwfl_Line* source = dwfl_module_getsrc(module, address)) {
      int number = 0;
      if (const char* file = dwfl_lineinfo(source, nullptr, &number, nullptr, nullptr, nullptr)) {
        location = std::string(file) + ":" + std::to_string(number);
      }
    }
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
      const int tag = dwarf_tag(&scopes[i]);
      if (tag != DW_TAG_inlined_subroutine && tag != DW_TAG_subprogram) continue;
      lines.push_back(NameOf(&scopes[i]) + (location.empty() ? "" : " at " + location) +
                      (tag == DW_TAG_inlined_subroutine ? " (inlined)" : ""));
      if (tag == DW_TAG_subprogram) break;
      location = CallSite(cu, &scopes[i]);
    }
    std::free(scopes);
    return lines;
  }

  Dwfl* dwfl_ = nullptr;
};

int ListModule(Dwfl_Module* module, void**, const char* name, Dwarf_Addr start, void* arg) {
  // The memory map also holds fonts, caches and shared memory: only code counts.
  GElf_Addr bias = 0;
  if (dwfl_module_getelf(module, &bias) == nullptr) return DWARF_CB_OK;
  Dwarf_Addr end = 0;
  dwfl_module_info(module, nullptr, nullptr, &end, nullptr, nullptr, nullptr, nullptr);
  auto& out = *static_cast<std::vector<std::pair<Dwarf_Addr, std::string>>*>(arg);
  out.emplace_back(start, Hex(start, 12) + "-" + Hex(end, 12) + "  " + name + "\n" + std::string(29, ' ') +
                              "build id " + Symbols::BuildId(module));
  return DWARF_CB_OK;
}

std::string ProgramBuildId(const Symbols& symbols, const char* executable) {
  struct Search {
    const char* executable;
    std::string id;
  } search{executable, {}};
  if (symbols.Handle() == nullptr) return "(unknown)";
  dwfl_getmodules(
      symbols.Handle(),
      [](Dwfl_Module* module, void**, const char* name, Dwarf_Addr, void* arg) -> int {
        auto& s = *static_cast<Search*>(arg);
        if (std::strcmp(name, s.executable) != 0) return DWARF_CB_OK;
        s.id = Symbols::BuildId(module);
        return DWARF_CB_ABORT;
      },
      &search, 0);
  return search.id.empty() ? "(unknown)" : search.id;
}

void WriteSummary(std::ostringstream& out, const CrashRecord& record, const Symbols& symbols,
                  const ExceptionFacts* exception) {
  const std::time_t when = static_cast<std::time_t>(record.time);
  std::tm local{};
  localtime_r(&when, &local);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %z", &local);
  out << "Program:          " << record.notes.program << " " << MENDRAKE_VERSION << " (" << record.executable
      << ")\n";
  out << "Build id:         " << ProgramBuildId(symbols, record.executable) << "\n";
  out << "Date and time:    " << date << "\n";
  out << "Process:          pid " << record.pid << ", thread " << record.tid << "\n";
  if (exception != nullptr) {
    out << "Exception:        " << exception->type << "\n";
    out << "Message:          " << exception->message << "\n";
  } else {
    out << "Signal:           " << SignalName(record.signal) << " (" << record.signal << ")\n";
    out << "Signal code:      " << CodeName(record.signal, record.code) << "\n";
    if (record.code == SI_USER || record.code == SI_TKILL) {
      out << "Sent by:          pid " << record.senderPid << "\n";
    } else {
      out << "Fault address:    " << Hex(record.faultAddress) << "\n";
    }
  }
  out << "Command:          " << (record.notes.command[0] ? record.notes.command : "(none)") << "\n";
  out << "CurrentFilename:  " << (record.currentFilename[0] ? record.currentFilename : "(empty)") << "\n";
  out << "\nLast " << NotesData::kLogLines << " lines of the log box:\n";
  std::istringstream lines(LogLinesOf(record.notes));
  for (std::string line; std::getline(lines, line);) out << "  " << line << "\n";
}

void WriteCallStack(std::ostringstream& out, const CrashRecord& record, const Symbols& symbols) {
  out << (record.signal != 0        ? "The thread that received the signal, from the fault outwards:\n\n"
          : record.framesFromThrow ? "The thread that met the error, from where the error was thrown outwards:\n\n"
                                   : "The thread that met the error, from where the error was caught outwards:\n\n");
  for (std::uint32_t i = 0; i < record.frameCount && i < CrashRecord::kMaxFrames; ++i) {
    const std::uint64_t address = record.frames[i];
    // A return address points after its call; the call itself is one byte before.
    const bool exact = record.signal != 0 && i == 0;
    const std::uint64_t lookup = exact ? address : address - 1;
    const std::vector<std::string> lines = symbols.Describe(address, lookup);
    char number[16];
    std::snprintf(number, sizeof number, "#%-3u ", i);
    for (std::size_t k = 0; k < lines.size(); ++k) out << (k == 0 ? number : "     ") << lines[k] << "\n";
  }
}

void WriteModules(std::ostringstream& out, const Symbols& symbols) {
  std::vector<std::pair<Dwarf_Addr, std::string>> modules;
  if (symbols.Handle() != nullptr) dwfl_getmodules(symbols.Handle(), ListModule, &modules, 0);
  std::sort(modules.begin(), modules.end());
  for (const auto& module : modules) out << module.second << "\n";
}

void WriteProcesses(std::ostringstream& out, const CrashRecord& record) {
  std::vector<std::pair<long, std::string>> processes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // Kernel threads have no command line; they are not programs the user runs.
    std::ifstream commandLine(entry.path() / "cmdline");
    if (commandLine.peek() == std::ifstream::traits_type::eof()) continue;
    processes.emplace_back(std::stol(name), ReadFirstLine(entry.path().string() + "/comm"));
  }
  std::sort(processes.begin(), processes.end());
  out << "    pid  name\n";
  for (const auto& [pid, name] : processes) {
    char line[64];
    std::snprintf(line, sizeof line, "%7ld  ", pid);
    out << line << name << (pid == record.pid ? "   <- this report's process" : "") << "\n";
  }
}

void WriteProcessor(std::ostringstream& out, const CrashRecord& record) {
  if (record.registerCount > 0) {
    out << "Registers at the fault:\n";
    for (std::uint32_t i = 0; i < record.registerCount && i < CrashRecord::kMaxRegisters; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "  %-7s %s%s", record.registers[i].name,
                    Hex(record.registers[i].value, 16).c_str(), i % 3 == 2 ? "\n" : "");
      out << line;
    }
    out << (record.registerCount % 3 != 0 ? "\n\n" : "\n");
  } else {
    out << "Registers: none taken (an exception, not a fault)\n\n";
  }
  utsname system{};
  uname(&system);
  std::string os = FieldOf("/etc/os-release", "PRETTY_NAME");
  if (os.size() >= 2 && os.front() == '"') os = os.substr(1, os.size() - 2);
  out << "CPU:              " << FieldOf("/proc/cpuinfo", "model name") << "\n";
  out << "Operating system: " << (os.empty() ? std::string(system.sysname) : os) << "\n";
  out << "Kernel:           " << system.sysname << " " << system.release << " " << system.version << " "
      << system.machine << "\n";
  out << "User interface:   " << (record.notes.runtime[0] ? record.notes.runtime : "(none)") << "\n";
  const std::string status = "/proc/" + std::to_string(record.pid) + "/status";
  const std::string resident = FieldOf(status, "VmRSS");
  out << "Memory in use:    "
      << (resident.empty() ? std::string("(unknown: the process has ended)")
                           : resident + " resident, " + FieldOf(status, "VmHWM") + " at most, " +
                                 FieldOf(status, "VmSize") + " mapped")
      << "\n";
  out << "Memory total:     " << FieldOf("/proc/meminfo", "MemTotal") << ", "
      << FieldOf("/proc/meminfo", "MemAvailable") << " available\n";
}

}  // namespace

std::string BuildReport(const CrashRecord& record, std::string_view maps, const ExceptionFacts* exception) {
  const Symbols symbols(maps);
  std::ostringstream out;
  out << "Mendrake error report\n";
  Section(out, "Summary");
  WriteSummary(out, record, symbols, exception);
  Section(out, "Call stack");
  WriteCallStack(out, record, symbols);
  Section(out, "Modules");
  WriteModules(out, symbols);
  Section(out, "Processes");
  WriteProcesses(out, record);
  Section(out, "Processor");
  WriteProcessor(out, record);
  return out.str();
}

}  // namespace mendrake::crash
