// mendrake-crash-report DUMP FOLDER [--announce] [--unshown]: started by the
// crash handler of a program that received a fatal signal, while that program
// waits. Turns the dump (the record taken at the fault and the memory map)
// into a report with symbols and source lines, saves it in FOLDER and removes
// the dump. --announce tells the path on standard error (the crashed
// program's own); --unshown leaves the report for the window's next start.
#include "crash/CrashRecord.h"
#include "crash/ReportStore.h"
#include "crash/ReportText.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

int main(int argc, char** argv) {
  using namespace mendrake::crash;
  if (argc < 3) {
    std::fputs("usage: mendrake-crash-report DUMP FOLDER [--announce] [--unshown]\n", stderr);
    return 2;
  }
  bool announce = false, unshown = false;
  for (int i = 3; i < argc; ++i) {
    announce |= std::strcmp(argv[i], "--announce") == 0;
    unshown |= std::strcmp(argv[i], "--unshown") == 0;
  }
  std::ifstream in(argv[1], std::ios::binary);
  // A record is big; keep it off the stack.
  auto record = std::make_unique<CrashRecord>();
  in.read(reinterpret_cast<char*>(record.get()), sizeof(CrashRecord));
  if (!in || record->magic != CrashRecord::kMagic) {
    std::fprintf(stderr, "mendrake-crash-report: %s is not a crash dump\n", argv[1]);
    return 1;
  }
  const std::string maps((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    const std::filesystem::path report =
        SaveReport(argv[2], BuildReport(*record, maps, nullptr), static_cast<std::time_t>(record->time), unshown);
    std::filesystem::remove(argv[1]);
    if (announce) std::fprintf(stderr, "Crash report written to %s\n", report.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "mendrake-crash-report: %s\n", error.what());
    return 1;
  }
  return 0;
}
