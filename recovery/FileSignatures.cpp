#include "recovery/FileSignatures.h"

#include "analysis/ByteOrder.h"

#include <cstring>

namespace mendrake {

std::optional<CrwHeader> CrwHeaderAt(const std::uint8_t* bytes, std::int64_t available) {
  if (available < kSignatureBytes || bytes[0] != bytes[1] || (bytes[0] != 'I' && bytes[0] != 'M')) return std::nullopt;
  if (std::memcmp(bytes + kCrwSignatureAt, kCrwSignature, sizeof kCrwSignature) != 0) return std::nullopt;
  const bool bigEndian = bytes[0] == 'M';
  return CrwHeader{bigEndian, LoadDWord(bytes + 2, bigEndian)};
}

bool CameraFileBeginsAt(const std::uint8_t* bytes, std::int64_t available) {
  if (available < kSignatureBytes) return false;
  if (CrwHeaderAt(bytes, available)) return true;
  // A JPEG's start-of-image marker and the marker after it. Compressed
  // picture and raw data escape every FF byte, so FF D8 FF does not occur
  // inside them.
  if (bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return true;
  if (std::memcmp(bytes, "II*\0", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0) return true;
  if (std::memcmp(bytes, "RIFF", 4) == 0) return true;
  return std::memcmp(bytes + 4, "ftyp", 4) == 0;
}

}  // namespace mendrake
