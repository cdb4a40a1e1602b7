// File times on POSIX systems.
#include "files/FileTimes.h"

#include <ctime>
#include <sys/stat.h>

namespace mendrake {

std::int64_t SystemTimeOfLocalClock(std::int64_t wallClockSeconds) {
  const std::time_t wall = static_cast<std::time_t>(wallClockSeconds);
  std::tm fields{};
  if (gmtime_r(&wall, &fields) == nullptr) return wallClockSeconds;
  fields.tm_isdst = -1;  // whether summer time applied then is the local zone's to say
  const std::time_t local = std::mktime(&fields);
  return local == static_cast<std::time_t>(-1) ? wallClockSeconds : static_cast<std::int64_t>(local);
}

bool SetModificationTime(int fd, std::int64_t systemSeconds) {
  const timespec times[2] = {{static_cast<time_t>(systemSeconds), 0}, {static_cast<time_t>(systemSeconds), 0}};
  return ::futimens(fd, times) == 0;
}

}  // namespace mendrake
