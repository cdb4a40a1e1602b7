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
bool TakeWhole(std::span<const std::uint8_t> bytes, std::size_t start, std::size_t maxSize, DamagedJpeg& found) {
  const std::span<const std::uint8_t> from = bytes.subspan(start);
  const std::size_t size = JpegExtent(from, std::min(maxSize, DamagedJpegLimits::kMaxJpegSize));
  if (size == 0) return false;
  RgbBitmap picture;
  if (!DecodeWholeJpeg(from.first(size), picture)) return false;
  found = {start, size, picture.width, picture.height};
  return true;
}

}  // namespace

DamagedJpeg FindDamagedJpeg(std::span<const std::uint8_t> kept, bool bigEndian, std::uint32_t headerLength,
                            std::int64_t cardStart) {
  DamagedJpeg found;
  if (kept.size() <= headerLength) return found;
  const CrwRecords records = ReadCrwRecords(kept, bigEndian, headerLength);
  if (records.jpegSize > 0 && TakeWhole(kept, records.jpegStart, records.jpegSize, found)) return found;
  constexpr std::uint8_t kStart[] = {0xFF, 0xD8, 0xFF};
  std::size_t from = headerLength;
  for (int tried = 0; tried < DamagedJpegLimits::kMaxStartsTried && from < kept.size();) {
    const std::uint8_t* hit = FindBytes(kept.data() + from, kept.size() - from, kStart, sizeof kStart);
    if (hit == nullptr) break;
    const auto at = static_cast<std::size_t>(hit - kept.data());
    from = at + 1;
    if ((cardStart + static_cast<std::int64_t>(at)) % RecoveryLimits::kSectorSize == 0) continue;
    ++tried;
    if (TakeWhole(kept, at, kept.size() - at, found)) return found;
  }
  return {};
}

}  // namespace mendrake
