#include "files/ByteSearch.h"

#include <string.h>

namespace mendrake {

const std::uint8_t* FindBytes(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                              std::size_t needleLength) {
  return static_cast<const std::uint8_t*>(::memmem(haystack, length, needle, needleLength));
}

}  // namespace mendrake
