// The crash handler on Windows: an unhandled structured exception (an access
// violation, say) is written up in a short report of the program, the
// exception, the file under analysis and the last log lines, kept in
// %LOCALAPPDATA%\Mendrake\crash-reports. The call stack and the symbols that
// the Linux report carries are left to the system's own error reporting,
// which runs after this.
#include "crash/CrashHandler.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace mendrake::crash {
namespace {

HandlerOptions installed;
const std::string* watchedFilename = nullptr;

std::wstring ReportFolder() {
  wchar_t base[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  std::wstring folder = length > 0 && length < MAX_PATH ? std::wstring(base, length) : std::wstring(L".");
  folder += L"\\Mendrake";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\crash-reports";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string ReportText(const EXCEPTION_RECORD& record) {
  char line[160];
  std::snprintf(line, sizeof line, "Exception: 0x%08lX at %p\n", static_cast<unsigned long>(record.ExceptionCode),
                record.ExceptionAddress);
  std::string text = "Mendrake error report\n\nProgram: " + std::string(installed.program) + "\n" + line;
  if (watchedFilename != nullptr && !watchedFilename->empty()) text += "File: " + *watchedFilename + "\n";
  text += "\nLast log lines:\n" + Notes().RecentLogLines();
  return text;
}

LONG WINAPI WriteReport(EXCEPTION_POINTERS* exception) {
  static volatile LONG entered = 0;
  if (::InterlockedExchange(&entered, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t name[64];
  std::swprintf(name, 64, L"\\%04u-%02u-%02u_%02u-%02u-%02u.txt", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  const std::wstring path = ReportFolder() + name;
  const std::string text = ReportText(*exception->ExceptionRecord);
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    if (installed.announce) std::fwprintf(stderr, L"Crash report written to %ls\n", path.c_str());
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallCrashHandler(const HandlerOptions& options, const std::string* currentFilename) {
#ifndef MENDRAKE_NO_CRASH_HANDLER
  installed = options;
  watchedFilename = currentFilename;
  Notes().SetProgram(options.program);
  Notes().WatchCurrentFilename(currentFilename);
  ::SetUnhandledExceptionFilter(WriteReport);
#else
  (void)options;
  (void)currentFilename;
#endif
}

bool CrashHandlerBuiltIn() {
#ifndef MENDRAKE_NO_CRASH_HANDLER
  return true;
#else
  return false;
#endif
}

}  // namespace mendrake::crash
