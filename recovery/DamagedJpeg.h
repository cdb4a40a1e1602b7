#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mendrake {

// The camera's full-size JPEG of a photo (the JPEG record, 2048x1360 on an
// EOS 300D) found whole in the bytes kept of a damaged CRW file, so that a
// photo whose raw data is lost still gives its picture.
struct DamagedJpeg {
  std::size_t start = 0;
  std::size_t size = 0;  // 0: none lies whole in the bytes
  int width = 0;
  int height = 0;
  std::int64_t pixelsDecoded = 0;  // by the tries, for the card's budget
};

// Bounds of the search, each with its reason.
struct DamagedJpegLimits {
  // Camera JPEGs of CRW files take 1 to 3 MB; past this a marker walk stops.
  static constexpr std::size_t kMaxJpegSize = std::size_t{16} << 20;
  // Start markers tried in one file: raw data holds the two bytes FF D8 and
  // a third FF by chance about once in 16 MiB, and each try may decode a
  // picture. The camera's JPEG is the first one that decodes whole.
  static constexpr int kMaxStartsTried = 16;
  // Decoding costs some 25 ns a pixel. A card earns a pixel of decoding for
  // every this many bytes scanned, plus one largest picture to start with:
  // a camera's 7 MB photo earns 1.75 million pixels, and a crafted card whose
  // every piece holds a picture decodes at most as long as it takes to read.
  static constexpr std::int64_t kCardBytesPerPixel = 4;
};

// The JPEG of the CRW file whose first bytes (from its header, at cardStart
// on the card) are kept: through the JPEG record of its directory where the
// root directory survives at the end of kept, else the first start-of-image
// marker inside its heap from which a picture decodes whole, from its
// start-of-image to its end-of-image marker. A marker at a sector start of
// the card is passed over: a file of its own starts there (a THM or another
// JPEG that followed the lost piece), not the photo's own JPEG.
// Pictures are decoded only while their pixels stay within maxPixels.
DamagedJpeg FindDamagedJpeg(std::span<const std::uint8_t> kept, bool bigEndian, std::uint32_t headerLength,
                            std::int64_t cardStart, std::int64_t maxPixels);

}  // namespace mendrake
