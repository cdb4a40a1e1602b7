#pragma once

#include "crash/CrashRecord.h"

#include <string>
#include <string_view>

namespace mendrake::crash {

// The report as the user reads and sends it: plain UTF-8 text in five
// sections (Summary, Call stack, Modules, Processes, Processor). Symbols,
// source lines and build ids come from the modules' ELF and DWARF data read
// through elfutils. The record's process, if it still runs, gives the memory
// in use. exception is null for a signal.
std::string BuildReport(const CrashRecord& record, std::string_view maps, const ExceptionFacts* exception);

}  // namespace mendrake::crash
