#include "tools/Console.h"

#include "files/WideText.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>

namespace mendrake::console {
namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

// argv holds the names in the ANSI code page, where letters outside it are
// lost: the wide command line has them all.
std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argv + 1, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

void Write(std::FILE* stream, std::string_view text) {
  if (const HANDLE console = ConsoleOf(stream)) {
    std::fflush(stream);
    const std::wstring wide = WideFromUtf8(text);
    DWORD written = 0;
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

}  // namespace mendrake::console
