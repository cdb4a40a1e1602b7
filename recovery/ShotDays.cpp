#include "recovery/ShotDays.h"

#include "recovery/ShotTime.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace mendrake {
namespace {

std::string Photos(std::size_t count) { return std::to_string(count) + (count == 1 ? " photo" : " photos"); }

}  // namespace

std::vector<ShotDayGroup> GroupByShotDay(const std::vector<RecoveredFile>& files) {
  std::vector<std::size_t> order(files.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // A file without a time sorts after every file with one.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto& first = files[a].shotTime;
    const auto& second = files[b].shotTime;
    if (first.has_value() != second.has_value()) return first.has_value();
    return first.has_value() && *first < *second;
  });
  std::vector<ShotDayGroup> groups;
  bool grouping = false;
  std::int64_t day = 0;
  bool timed = true;
  for (const std::size_t index : order) {
    const RecoveredFile& file = files[index];
    const bool hasTime = file.shotTime.has_value();
    const std::int64_t fileDay = hasTime ? ShotDay(*file.shotTime) : 0;
    if (!grouping || hasTime != timed || fileDay != day) {
      groups.push_back({hasTime ? ShotDayText(*file.shotTime) : "Shot time unknown", {}});
      grouping = true;
      timed = hasTime;
      day = fileDay;
    }
    groups.back().files.push_back(index);
  }
  for (ShotDayGroup& group : groups) group.title += ", " + Photos(group.files.size());
  return groups;
}

std::string ShotClockText(std::int64_t shotTime) { return ShotTimeText(shotTime).substr(11); }

}  // namespace mendrake
