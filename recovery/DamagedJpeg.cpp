#include "recovery/DamagedJpeg.h"

#include "analysis/CrwRecords.h"
#include "files/ByteSearch.h"
#include "output/JpegDecoder.h"
#include "output/JpegExtent.h"
#include "recovery/CardRecovery.h"

#include <algorithm>

namespace mendrake {
namespace {

// The picture at start when it is whole: its structure ends within the
// bytes, and the decoder meets no fault and no missing data.
bool TakeWhole(std::span<const std::uint8_t> bytes, std::size_t start, std::size_t maxSize, std::int64_t maxPixels,
               DamagedJpeg& found) {
  const std::span<const std::uint8_t> from = bytes.subspan(start);
  const std::size_t size = JpegExtent(from, std::min(maxSize, DamagedJpegLimits::kMaxJpegSize));
  if (size == 0) return false;
  int width = 0;
  int height = 0;
  if (!ReadJpegHeader(from.first(size), width, height)) return false;
  const std::int64_t pixels = std::int64_t{width} * height;
  if (found.pixelsDecoded + pixels > maxPixels) return false;
  found.pixelsDecoded += pixels;
  RgbBitmap picture;
  if (!DecodeWholeJpeg(from.first(size), picture)) return false;
  found.start = start;
  found.size = size;
  found.width = picture.width;
  found.height = picture.height;
  return true;
}

}  // namespace

DamagedJpeg FindDamagedJpeg(std::span<const std::uint8_t> kept, bool bigEndian, std::uint32_t headerLength,
                            std::int64_t cardStart, std::int64_t maxPixels) {
  DamagedJpeg found;
  if (kept.size() <= headerLength) return found;
  const CrwRecords records = ReadCrwRecords(kept, bigEndian, headerLength);
  if (records.jpegSize > 0 && TakeWhole(kept, records.jpegStart, records.jpegSize, maxPixels, found)) return found;
  constexpr std::uint8_t kStart[] = {0xFF, 0xD8, 0xFF};
  std::size_t from = headerLength;
  for (int tried = 0; tried < DamagedJpegLimits::kMaxStartsTried && from < kept.size();) {
    const std::uint8_t* hit = FindBytes(kept.data() + from, kept.size() - from, kStart, sizeof kStart);
    if (hit == nullptr) break;
    const auto at = static_cast<std::size_t>(hit - kept.data());
    from = at + 1;
    if ((cardStart + static_cast<std::int64_t>(at)) % RecoveryLimits::kSectorSize == 0) continue;
    ++tried;
    if (TakeWhole(kept, at, kept.size() - at, maxPixels, found)) return found;
  }
  found.size = 0;
  return found;
}

}  // namespace mendrake
