#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mendrake {

// A shot time as cameras keep it: the wall clock's reading, with no zone,
// held as seconds since 1970 counted as if the clock ran on UTC. These are
// calendar sums only; no time zone of this computer enters them.
struct WallClock {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

WallClock WallClockOf(std::int64_t seconds);
std::int64_t SecondsOf(const WallClock& clock);

// EXIF's "2003:11:10 17:39:26"; none when the text is not such a time.
std::optional<std::int64_t> ParseExifTime(std::string_view text);

// "2003-11-10 17:39:26"
std::string ShotTimeText(std::int64_t seconds);
// "10 November 2003"
std::string ShotDayText(std::int64_t seconds);
// The day as a number (days since 1970), to group by.
std::int64_t ShotDay(std::int64_t seconds);

}  // namespace mendrake
