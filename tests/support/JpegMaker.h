#pragma once

#include "tests/support/CrwBuilder.h"

namespace mendrake::testing {

// Pixels of a test picture: smooth gradients, so that a decoded picture can be
// compared with them within a small tolerance.
std::uint8_t TestPixel(int x, int y, int channel);

// A baseline JPEG of the test picture made by libjpeg's compressor, in RGB
// (stored as YCbCr) or, with cmyk, as four-component CMYK data.
Bytes MakeJpeg(int width, int height, bool cmyk = false, int quality = 95);

// A camera's THM file: a 160x120 JPEG whose first segment is EXIF data with
// DateTimeOriginal ("2003:11:10 17:39:26") and, when fileNumber is not 0,
// Canon's maker note naming the photo's file number.
Bytes MakeThm(const std::string& dateTimeOriginal, std::uint32_t fileNumber = 0, int width = 160, int height = 120,
              int quality = 95);

// Offset of the first byte of entropy-coded data (just past the SOS segment).
std::size_t ImageDataStart(const Bytes& jpeg);

}  // namespace mendrake::testing
