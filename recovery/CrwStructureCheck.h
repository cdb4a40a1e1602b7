#pragma once

#include <cstdint>
#include <string>

namespace mendrake {

// What the size search does not look at, checked on a file about to be
// written: every sub-heap's directory closes exactly at its own pointer, every
// record the directories list lies inside the file, and the thumbnail begins
// with a JPEG start-of-image marker. With decodeThumbnail it must also decode
// to its end marker (some 10 ms for a camera's thumbnail, so asked for the
// files whose bytes were put together, not for every file of a card).
// Returns the first fault as a short reason, or an empty string.
std::string CrwStructureFault(const std::uint8_t* file, std::int64_t size, bool bigEndian,
                              std::uint32_t headerLength, std::uint32_t thumbnailStart, std::uint32_t thumbnailSize,
                              bool decodeThumbnail);

}  // namespace mendrake
