#include "output/JpegExtent.h"

#include <algorithm>

namespace mendrake {
namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
// Markers without a length: the restarts RST0 to RST7 and TEM.
bool StandsAlone(std::uint8_t marker) { return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01; }

// Past the entropy-coded data that begins at position: at the next marker.
std::size_t PastScanData(std::span<const std::uint8_t> bytes, std::size_t position) {
  while (position + 1 < bytes.size()) {
    const auto hit = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(position), bytes.end() - 1, kMarker);
    position = static_cast<std::size_t>(hit - bytes.begin());
    if (position + 1 >= bytes.size()) break;
    const std::uint8_t next = bytes[position + 1];
    // A stuffed zero is a data byte 0xFF; a restart marker lies inside the data.
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
      position += 2;
      continue;
    }
    return position;
  }
  return bytes.size();
}

}  // namespace

std::size_t JpegExtent(std::span<const std::uint8_t> bytes, std::size_t maxLength) {
  bytes = bytes.first(std::min(bytes.size(), maxLength));
  if (bytes.size() < 4 || bytes[0] != kMarker || bytes[1] != kStartOfImage) return 0;
  std::size_t position = 2;
  while (position + 1 < bytes.size()) {
    if (bytes[position] != kMarker) return 0;
    // Any number of fill bytes 0xFF may come before a marker.
    while (position + 1 < bytes.size() && bytes[position + 1] == kMarker) ++position;
    if (position + 1 >= bytes.size()) return 0;
    const std::uint8_t marker = bytes[position + 1];
    position += 2;
    if (marker == kEndOfImage) return position;
    if (marker == kStartOfImage || marker == 0x00) return 0;
    if (StandsAlone(marker)) continue;
    if (position + 2 > bytes.size()) return 0;
    const std::size_t length = std::size_t{bytes[position]} << 8 | bytes[position + 1];
    if (length < 2 || position + length > bytes.size()) return 0;
    position += length;
    if (marker == kStartOfScan) position = PastScanData(bytes, position);
  }
  return 0;
}

}  // namespace mendrake
