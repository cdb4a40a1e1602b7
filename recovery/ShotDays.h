#pragma once

#include "recovery/CardRecovery.h"

#include <cstddef>
#include <string>
#include <vector>

namespace mendrake {

// The files of a recovery as the grid shows them: by the day they were shot,
// days in order and each day's files in shot order (card order within one
// second), the files without a shot time (damaged files among them) last in
// card order.
struct ShotDayGroup {
  std::string title;                // "10 November 2003, 14 photos"; "Shot time unknown, 2 photos"
  std::vector<std::size_t> files;   // indices into the files given
};

std::vector<ShotDayGroup> GroupByShotDay(const std::vector<RecoveredFile>& files);

// "17:39:26": the time of day of a shot, for the file's line in the grid.
std::string ShotClockText(std::int64_t shotTime);

}  // namespace mendrake
