#pragma once

#include <cstdint>
#include <vector>

namespace mendrake::testing {

// The sensor values of a made-up photo on an RGGB Bayer pattern: a sky with a
// gradient and soft clouds over a wavy horizon, a building whose walls and
// windows make sharp edges, textured ground, and sensor noise. The same seed
// gives the same values on every machine; another seed moves the horizon and
// the building and draws other noise.
struct SensorImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bits = 10;  // 10, or 12 for cameras that store the low bits
  std::vector<std::uint16_t> values;  // row after row

  std::uint16_t At(std::uint32_t x, std::uint32_t y) const { return values[std::size_t{y} * width + x]; }
};

SensorImage SyntheticPhoto(std::uint32_t width, std::uint32_t height, int bits, std::uint32_t seed);

}  // namespace mendrake::testing
