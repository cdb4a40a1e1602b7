#include "recovery/ShotTime.h"

#include <array>
#include <cstdio>

namespace mendrake {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days since 1 January 1970 of a date of the proleptic Gregorian calendar
// (the civil-from-days sums of Howard Hinnant's date algorithms).
std::int64_t DaysOf(int year, int month, int day) {
  const std::int64_t y = year - (month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void DateOf(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

bool TwoDigits(std::string_view text, std::size_t at, int& value) {
  if (text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9') return false;
  value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  return true;
}

}  // namespace

std::int64_t ShotDay(std::int64_t seconds) {
  return (seconds >= 0 ? seconds : seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
}

WallClock WallClockOf(std::int64_t seconds) {
  WallClock clock;
  const std::int64_t days = ShotDay(seconds);
  const std::int64_t inDay = seconds - days * kSecondsPerDay;
  DateOf(days, clock.year, clock.month, clock.day);
  clock.hour = static_cast<int>(inDay / 3600);
  clock.minute = static_cast<int>(inDay / 60 % 60);
  clock.second = static_cast<int>(inDay % 60);
  return clock;
}

std::int64_t SecondsOf(const WallClock& clock) {
  return DaysOf(clock.year, clock.month, clock.day) * kSecondsPerDay + clock.hour * 3600 + clock.minute * 60 +
         clock.second;
}

std::optional<std::int64_t> ParseExifTime(std::string_view text) {
  if (text.size() < 19 || text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  WallClock clock;
  int century = 0;
  int year = 0;
  if (!TwoDigits(text, 0, century) || !TwoDigits(text, 2, year) || !TwoDigits(text, 5, clock.month) ||
      !TwoDigits(text, 8, clock.day) || !TwoDigits(text, 11, clock.hour) || !TwoDigits(text, 14, clock.minute) ||
      !TwoDigits(text, 17, clock.second)) {
    return std::nullopt;
  }
  clock.year = century * 100 + year;
  // A camera whose clock was never set writes zeros or blanks here.
  if (clock.month < 1 || clock.month > 12 || clock.day < 1 || clock.day > 31 || clock.hour > 23 ||
      clock.minute > 59 || clock.second > 59) {
    return std::nullopt;
  }
  return SecondsOf(clock);
}

std::string ShotTimeText(std::int64_t seconds) {
  const WallClock clock = WallClockOf(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", clock.year, clock.month, clock.day, clock.hour,
                clock.minute, clock.second);
  return text;
}

std::string ShotDayText(std::int64_t seconds) {
  static constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",
                                                          "May",     "June",     "July",      "August",
                                                          "September", "October", "November", "December"};
  const WallClock clock = WallClockOf(seconds);
  return std::to_string(clock.day) + " " + kMonths[static_cast<std::size_t>(clock.month - 1)] + " " +
         std::to_string(clock.year);
}

}  // namespace mendrake
