#include "tools/ConsoleLog.h"

#include "crash/CrashNotes.h"
#include "tools/Console.h"

#include <cstdio>

namespace mendrake::crwlog {

void ConsoleLog::Append(std::string_view line) {
  crash::Notes().AppendLogLine(line);
  console::Write(stdout, std::string(line) + "\n");
  if (flushEachLine_) std::fflush(stdout);
}

int Fail(const std::string& message, int status) {
  std::fflush(stdout);
  console::Write(stderr, "crwlog: " + message + "\n");
  return status;
}

}  // namespace mendrake::crwlog
