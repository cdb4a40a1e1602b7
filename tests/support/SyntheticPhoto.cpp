#include "tests/support/SyntheticPhoto.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace mendrake::testing {
namespace {

// Uniform in [0, 1) from the generator's own output: the standard fixes the
// engine's sequence, not that of its distributions.
double Uniform(std::mt19937& random) { return static_cast<double>(random()) / 4294967296.0; }

struct Scene {
  double horizon;  // as a share of the height
  double buildingLeft, buildingRight, buildingTop;
  double phase;

  explicit Scene(std::mt19937& random)
      : horizon(0.35 + 0.2 * Uniform(random)),
        buildingLeft(0.1 + 0.4 * Uniform(random)),
        buildingRight(0.0),
        buildingTop(0.15 + 0.15 * Uniform(random)),
        phase(6.283 * Uniform(random)) {
    buildingRight = buildingLeft + 0.15 + 0.2 * Uniform(random);
  }

  // What depends on the column alone, worked out once per column.
  struct Column {
    double u;
    double horizonHere;
    bool building;
    bool windowColumn;
    double fineGrass;
  };
  Column ColumnAt(double u) const {
    const double across = (u - buildingLeft) * 40.0;
    return {u, horizon + 0.02 * std::sin(9.0 * u + phase), u >= buildingLeft && u < buildingRight,
            across - std::floor(across) > 0.45, 0.05 * std::sin(600.0 * u)};
  }

  // Light reaching the sensor at (u, v) in [0, 1)^2, and a tint per colour
  // (0 red, 1 green, 2 blue).
  double Light(const Column& column, double v, double rowGrass, int colour) const {
    const double u = column.u;
    if (column.building && v >= buildingTop) {
      const double down = (v - buildingTop) * 30.0;
      const bool window = column.windowColumn && down - std::floor(down) > 0.4;
      const double wall = window ? 0.06 : 0.62;
      const double tint[3] = {1.0, 0.9, 0.7};
      return wall * tint[colour];
    }
    if (v < column.horizonHere) {
      const double clouds = 0.08 * std::sin(7.0 * u + 3.0 * v + phase) * std::sin(4.0 * v - 2.0 * u);
      const double sky = 0.5 + 0.3 * v / horizon + clouds;
      const double tint[3] = {0.55, 0.85, 1.0};
      return sky * tint[colour];
    }
    const double grass = 0.12 * std::sin(180.0 * u + 40.0 * v) * rowGrass + column.fineGrass;
    const double ground = 0.28 - 0.1 * (v - column.horizonHere) + grass;
    const double tint[3] = {0.6, 1.0, 0.4};
    return std::max(0.0, ground) * tint[colour];
  }
};

}  // namespace

SensorImage SyntheticPhoto(std::uint32_t width, std::uint32_t height, int bits, std::uint32_t seed) {
  std::mt19937 random(seed);
  const Scene scene(random);
  SensorImage image;
  image.width = width;
  image.height = height;
  image.bits = bits;
  image.values.resize(std::size_t{width} * height);
  const double top = (1 << bits) - 1;
  const double black = top / 32.0;
  std::vector<Scene::Column> columns;
  for (std::uint32_t x = 0; x < width; ++x) columns.push_back(scene.ColumnAt(static_cast<double>(x) / width));
  for (std::uint32_t y = 0; y < height; ++y) {
    const double v = static_cast<double>(y) / height;
    const double rowGrass = std::sin(150.0 * v);
    for (std::uint32_t x = 0; x < width; ++x) {
      const int colour = (y & 1) == 0 ? ((x & 1) == 0 ? 0 : 1) : ((x & 1) == 0 ? 1 : 2);
      const double light = scene.Light(columns[x], v, rowGrass, colour);
      const double signal = black + light * (top - black);
      // Shot noise grows with the signal; read noise stays. A sum of
      // uniforms stands in for a normal distribution.
      const double sigma = 0.4 * std::sqrt(signal) + top / 1024.0;
      const double noise = (Uniform(random) + Uniform(random) + Uniform(random) - 1.5) * 2.0 * sigma;
      image.values[std::size_t{y} * width + x] =
          static_cast<std::uint16_t>(std::clamp(std::lround(signal + noise), 0L, static_cast<long>(top)));
    }
  }
  return image;
}

}  // namespace mendrake::testing
