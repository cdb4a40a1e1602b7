#pragma once

#include <cstddef>
#include <cstdint>

namespace mendrake {

// The first place in haystack where needle's bytes stand, or null. The C
// library's search where it has one (glibc's memmem), a search of its own
// elsewhere.
const std::uint8_t* FindBytes(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                              std::size_t needleLength);

}  // namespace mendrake
