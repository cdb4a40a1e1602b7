#pragma once

#include "files/LargeBuffer.h"

#include <cstdint>
#include <vector>

namespace mendrake {

// A decoded picture: width x height pixels, three bytes (R, G, B) each, rows top down.
// A camera thumbnail takes megabytes, which LargeBufferAllocator puts in huge pages.
struct RgbBitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>> pixels;
};

}  // namespace mendrake
