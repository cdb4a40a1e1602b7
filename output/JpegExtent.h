#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mendrake {

// The length of the JPEG stream at the start of bytes, from its start-of-image
// marker to the end of its end-of-image marker, read as the format lays it
// out: marker segments each with its length, entropy-coded data after each
// start-of-scan up to the next marker that is neither a stuffed byte nor a
// restart. 0 when bytes do not begin with a start-of-image marker or end
// before the end-of-image marker, or when what lies between is no JPEG
// structure. Looks at no more than maxLength bytes.
std::size_t JpegExtent(std::span<const std::uint8_t> bytes, std::size_t maxLength);

}  // namespace mendrake
