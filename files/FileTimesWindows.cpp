// File times on Windows: a descriptor stands for a file handle, whose times
// count 100-nanosecond steps since 1601.
#include "files/FileTimes.h"

#include <windows.h>

#include <io.h>
#include <time.h>

namespace mendrake {
namespace {

// Seconds from 1 January 1601 to 1 January 1970.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kStepsPerSecond = 10000000;

}  // namespace

std::int64_t SystemTimeOfLocalClock(std::int64_t wallClockSeconds) {
  const __time64_t wall = static_cast<__time64_t>(wallClockSeconds);
  struct tm fields {};
  if (_gmtime64_s(&fields, &wall) != 0) return wallClockSeconds;
  fields.tm_isdst = -1;  // whether summer time applied then is the local zone's to say
  const __time64_t local = _mktime64(&fields);
  return local == static_cast<__time64_t>(-1) ? wallClockSeconds : static_cast<std::int64_t>(local);
}

bool SetModificationTime(int fd, std::int64_t systemSeconds) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return false;
  const std::uint64_t steps = static_cast<std::uint64_t>((systemSeconds + kSecondsFrom1601To1970) * kStepsPerSecond);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(steps);
  time.dwHighDateTime = static_cast<DWORD>(steps >> 32);
  return ::SetFileTime(handle, nullptr, &time, &time) != 0;
}

}  // namespace mendrake
