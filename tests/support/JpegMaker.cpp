#include "tests/support/JpegMaker.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace mendrake::testing {

std::uint8_t TestPixel(int x, int y, int channel) {
  switch (channel) {
    case 0: return static_cast<std::uint8_t>(x * 255 / 200);
    case 1: return static_cast<std::uint8_t>(y * 255 / 200);
    case 2: return static_cast<std::uint8_t>(128 + (x - y) / 4);
    default: return 64;
  }
}

Bytes MakeJpeg(int width, int height, bool cmyk, int quality) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = cmyk ? 4 : 3;
  info.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * static_cast<std::size_t>(info.input_components));
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < info.input_components; ++c) {
        row[static_cast<std::size_t>(x * info.input_components + c)] = TestPixel(x, y, c);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  Bytes jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

std::size_t ImageDataStart(const Bytes& jpeg) {
  for (std::size_t i = 2; i + 3 < jpeg.size();) {
    if (jpeg[i] != 0xFF) throw std::runtime_error("not a marker");
    const std::size_t length = static_cast<std::size_t>(jpeg[i + 2] << 8 | jpeg[i + 3]);
    if (jpeg[i + 1] == 0xDA) return i + 2 + length;
    i += 2 + length;
  }
  throw std::runtime_error("no start of scan");
}

}  // namespace mendrake::testing
