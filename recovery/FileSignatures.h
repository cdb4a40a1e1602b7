#pragma once

#include <cstdint>
#include <optional>

namespace mendrake {

// Bytes that a file needs to be recognised by its first bytes.
constexpr std::int64_t kSignatureBytes = 14;

// Whether a file that cameras write begins at bytes (available bytes from
// there on): a CRW header, a JPEG (the camera's own, or a THM), a TIFF-based
// raw or picture, a RIFF movie or sound (AVI, WAV), an ISO media movie (MOV,
// MP4). A piece of a file ends where the next file begins, so a first piece
// that waits for its end is cut at the first cluster where one of these lies.
bool CameraFileBeginsAt(const std::uint8_t* bytes, std::int64_t available);

// A CRW file's first bytes, decoded: "II" (little-endian) or "MM"
// (big-endian), the header's length in that order, "HEAPCCDR".
struct CrwHeader {
  bool bigEndian = false;
  std::uint32_t length = 0;  // where the root heap begins
};

// What the card scan searches for: a CRW header's signature, and where in
// the header it lies.
inline constexpr std::uint8_t kCrwSignature[] = {'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
constexpr std::int64_t kCrwSignatureAt = 6;

// The CRW header that bytes begin, or nothing: the one test for it.
std::optional<CrwHeader> CrwHeaderAt(const std::uint8_t* bytes, std::int64_t available);

}  // namespace mendrake
