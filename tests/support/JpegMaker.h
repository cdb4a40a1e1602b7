#pragma once

#include "tests/support/CrwBuilder.h"

namespace mendrake::testing {

// Pixels of a test picture: smooth gradients, so that a decoded picture can be
// compared with them within a small tolerance.
std::uint8_t TestPixel(int x, int y, int channel);

// A baseline JPEG of the test picture made by libjpeg's compressor, in RGB
// (stored as YCbCr) or, with cmyk, as four-component CMYK data.
Bytes MakeJpeg(int width, int height, bool cmyk = false, int quality = 95);

// Offset of the first byte of entropy-coded data (just past the SOS segment).
std::size_t ImageDataStart(const Bytes& jpeg);

}  // namespace mendrake::testing
