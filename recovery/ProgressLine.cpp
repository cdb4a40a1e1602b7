#include "recovery/ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace mendrake {
namespace {

std::string Amount(std::int64_t bytes) {
  char text[32];
  if (bytes >= (std::int64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1 << 30));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  }
  return text;
}

std::string TimeLeft(double seconds) {
  const long long whole = std::llround(std::ceil(seconds));
  char text[32];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lld s left", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lld min %02lld s left", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min left", whole / 3600, whole / 60 % 60);
  }
  return text;
}

}  // namespace

std::string RecoveryProgressLine(const RecoveryProgress& progress, double seconds) {
  std::string line = Amount(progress.scanned) + " of " + Amount(progress.total) + " read";
  const std::int64_t read = progress.scanned - progress.start;
  if (seconds > 0 && read > 0) {
    const double pace = static_cast<double>(read) / seconds;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f MiB/s", pace / (1 << 20));
    line += std::string(", ") + speed + ", " + TimeLeft(static_cast<double>(progress.total - progress.scanned) / pace);
  }
  return line + ", " + std::to_string(progress.filesFound) + (progress.filesFound == 1 ? " file found" : " files found");
}

}  // namespace mendrake
