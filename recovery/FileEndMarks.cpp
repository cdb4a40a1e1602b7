#include "recovery/FileEndMarks.h"

#include <cstring>

namespace mendrake {

bool HoldsJpegEnd(const std::uint8_t* cluster, std::int64_t length) {
  const std::uint8_t* at = cluster;
  const std::uint8_t* end = cluster + length;
  while (at + 1 < end) {
    const void* mark = std::memchr(at, 0xFF, static_cast<std::size_t>(end - 1 - at));
    if (!mark) return false;
    at = static_cast<const std::uint8_t*>(mark);
    if (at[1] == 0xD9) return true;
    ++at;
  }
  return false;
}

}  // namespace mendrake
