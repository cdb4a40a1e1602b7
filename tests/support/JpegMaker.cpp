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

namespace {

// An IFD entry in little-endian TIFF data: tag, type, count, value or offset.
void PutEntry(Bytes& out, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  Put16(out, tag, false);
  Put16(out, type, false);
  Put32(out, count, false);
  Put32(out, value, false);
}

}  // namespace

Bytes MakeThm(const std::string& dateTimeOriginal, std::uint32_t fileNumber, int width, int height, int quality) {
  // TIFF data: header, IFD0 (the EXIF IFD's pointer), the EXIF IFD, its
  // values, and the maker note's own IFD.
  constexpr std::uint32_t kIfd0 = 8;
  constexpr std::uint32_t kExifIfd = kIfd0 + 2 + 12 + 4;
  const std::uint16_t exifEntries = fileNumber != 0 ? 2 : 1;
  const std::uint32_t timeAt = kExifIfd + 2 + 12 * exifEntries + 4;
  const std::uint32_t noteAt = timeAt + 20;
  Bytes tiff = {'I', 'I', 42, 0};
  Put32(tiff, kIfd0, false);
  Put16(tiff, 1, false);
  PutEntry(tiff, 0x8769, 4, 1, kExifIfd);
  Put32(tiff, 0, false);
  Put16(tiff, exifEntries, false);
  PutEntry(tiff, 0x9003, 2, 20, timeAt);
  if (fileNumber != 0) PutEntry(tiff, 0x927C, 7, 2 + 12 + 4, noteAt);
  Put32(tiff, 0, false);
  Bytes time(dateTimeOriginal.begin(), dateTimeOriginal.end());
  time.resize(20, 0);
  tiff.insert(tiff.end(), time.begin(), time.end());
  if (fileNumber != 0) {
    Put16(tiff, 1, false);
    PutEntry(tiff, 0x0008, 4, 1, fileNumber);
    Put32(tiff, 0, false);
  }
  Bytes app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  app1[2] = static_cast<std::uint8_t>((app1.size() - 2) >> 8);
  app1[3] = static_cast<std::uint8_t>(app1.size() - 2);
  // The compressor's JFIF segment gives way to the EXIF one, as in camera files.
  const Bytes picture = MakeJpeg(width, height, false, quality);
  std::size_t rest = 2;
  if (picture[2] == 0xFF && picture[3] == 0xE0) rest = 4 + static_cast<std::size_t>(picture[4] << 8 | picture[5]);
  Bytes thm = {0xFF, 0xD8};
  thm.insert(thm.end(), app1.begin(), app1.end());
  thm.insert(thm.end(), picture.begin() + static_cast<std::ptrdiff_t>(rest), picture.end());
  return thm;
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
