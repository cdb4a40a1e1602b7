#pragma once

#include <cstdint>

namespace mendrake {

// Times of files, the same on every system: seconds since 1970 in UTC, as
// the system keeps a file's times.

// The system time at which this computer's local clock shows the wall-clock
// time given as seconds since 1970 counted as if that clock ran on UTC (the
// form in which a camera that knows no time zone records when it was used).
// A time the local clock skips (the hour a change to summer time passes
// over) gives the time an hour later, as the system's own conversion does.
std::int64_t SystemTimeOfLocalClock(std::int64_t wallClockSeconds);

// Sets the modification time (and the access time) of the open file fd to
// systemSeconds. Call it after the last write: a write sets the time anew.
// False when the system refuses: a file system without such times keeps the
// file as it is, which matters more than its date.
bool SetModificationTime(int fd, std::int64_t systemSeconds);

}  // namespace mendrake
