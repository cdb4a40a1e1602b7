#include "files/ByteSearch.h"

#include <cstring>

namespace mendrake {

// The C library of Windows has no memmem: memchr finds each candidate for
// the first byte (fast where that byte is rare, as a signature's is), memcmp
// checks the rest.
const std::uint8_t* FindBytes(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                              std::size_t needleLength) {
  if (needleLength == 0) return haystack;
  const std::uint8_t* end = haystack + length;
  for (const std::uint8_t* at = haystack; static_cast<std::size_t>(end - at) >= needleLength;) {
    const void* first = std::memchr(at, needle[0], static_cast<std::size_t>(end - at) - needleLength + 1);
    if (first == nullptr) return nullptr;
    at = static_cast<const std::uint8_t*>(first);
    if (std::memcmp(at + 1, needle + 1, needleLength - 1) == 0) return at;
    ++at;
  }
  return nullptr;
}

}  // namespace mendrake
