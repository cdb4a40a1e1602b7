// picturemake: writes a JPEG picture with the look of a camera thumbnail
// (smooth light, edges, fine grain), so that benchmarks decode data of a
// realistic size rather than a flat colour that compresses to nothing.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

// A cheap hash: the grain must look random but be the same on every run.
std::uint32_t Grain(std::uint32_t x, std::uint32_t y) {
  std::uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

std::uint8_t Clamp(double value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

std::vector<std::uint8_t> Paint(int width, int height) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      const double sky = 1.0 - v;
      const double hills = 0.5 + 0.15 * std::sin(u * 9.0) + 0.05 * std::sin(u * 37.0);
      const bool ground = v > hills;
      const double stripes = 20.0 * std::sin((u * 60.0 + v * 25.0)) * (ground ? 1.0 : 0.2);
      const double grain = static_cast<double>(Grain(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) & 31) - 16.0;
      std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      if (ground) {
        pixel[0] = Clamp(70 + 60 * u + stripes + grain);
        pixel[1] = Clamp(110 + 40 * v + stripes + grain);
        pixel[2] = Clamp(50 + stripes * 0.5 + grain);
      } else {
        pixel[0] = Clamp(120 + 90 * sky + grain * 0.5);
        pixel[1] = Clamp(150 + 80 * sky + grain * 0.5);
        pixel[2] = Clamp(200 + 55 * sky + grain * 0.5);
      }
    }
  }
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: picturemake WIDTH HEIGHT OUTPUT.jpg [QUALITY]\n", stderr);
    return 2;
  }
  const int width = std::atoi(argv[1]);
  const int height = std::atoi(argv[2]);
  const int quality = argc > 4 ? std::atoi(argv[4]) : 90;
  if (width <= 0 || height <= 0 || width > 65500 || height > 65500) {
    std::fputs("picturemake: width and height must be 1 to 65500\n", stderr);
    return 2;
  }
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::perror(argv[3]);
    return 1;
  }
  const std::vector<std::uint8_t> rgb = Paint(width, height);

  jpeg_compress_struct compressor{};
  jpeg_error_mgr errors{};
  compressor.err = jpeg_std_error(&errors);  // the default error_exit ends the program
  jpeg_create_compress(&compressor);
  jpeg_stdio_dest(&compressor, out);
  compressor.image_width = static_cast<JDIMENSION>(width);
  compressor.image_height = static_cast<JDIMENSION>(height);
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality, TRUE);
  // Cameras store their thumbnails with 4:2:2 chroma.
  compressor.comp_info[0].h_samp_factor = 2;
  compressor.comp_info[0].v_samp_factor = 1;
  jpeg_start_compress(&compressor, TRUE);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<std::size_t>(compressor.next_scanline) * width * 3]);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  if (std::fclose(out) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
