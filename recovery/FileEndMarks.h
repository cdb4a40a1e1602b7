#pragma once

#include <cstdint>

namespace mendrake {

// Whether the cluster of length bytes holds a JPEG's end-of-image marker
// (FF D9): the end of a camera's JPEG or THM file. Compressed picture and raw
// data escape every FF byte, so the marker does not occur inside them; where
// a camera continued a file after another one, the cluster before the
// continuation holds that file's end.
bool HoldsJpegEnd(const std::uint8_t* cluster, std::int64_t length);

}  // namespace mendrake
