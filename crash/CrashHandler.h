#pragma once

#include "crash/CrashNotes.h"

#include <string>

namespace mendrake::crash {

struct HandlerOptions {
  // Names the program in the report.
  const char* program = "";
  // Prints "Crash report written to PATH" on standard error (the tools).
  bool announce = false;
  // Marks the report for the window to show at its next start.
  bool showAtNextStart = false;
};

// Catches SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. At the fault the
// handler captures registers, return addresses and the memory map into space
// set aside here and writes them to a dump with write(2); then it starts the
// helper program mendrake-crash-report next to this executable, which turns
// the dump into a report with symbols while this process waits; then it
// raises the signal again with its default action, so the exit status says
// how the process died. currentFilename (may be null) is read at the fault.
// Builds with sanitizers leave the signals to them: there this does nothing.
void InstallCrashHandler(const HandlerOptions& options, const std::string* currentFilename);

// True when InstallCrashHandler catches signals in this build.
bool CrashHandlerBuiltIn();

}  // namespace mendrake::crash
