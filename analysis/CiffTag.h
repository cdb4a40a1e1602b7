#pragma once

#include <cstdint>

namespace mendrake {

// Record tags of a CIFF heap that the program reads. A tag's two high bits
// say where its data lies (0x0000 in the heap, 0x4000 in the entry itself),
// the next three its kind (0x2800 and 0x3000 a heap of its own), the rest
// which record it is.
namespace CrwTag {
constexpr std::uint16_t kMakeModel = 0x080A;
constexpr std::uint16_t kShotInfo = 0x102A;
constexpr std::uint16_t kSensorInfo = 0x1031;
// The camera's file counter (folder number times 10000 plus the photo's
// number), stored in the image properties heap.
constexpr std::uint16_t kFileNumber = 0x1817;
constexpr std::uint16_t kDecoderTable = 0x1835;
constexpr std::uint16_t kRawData = 0x2005;
constexpr std::uint16_t kJpegThumbnail = 0x2007;
// Tags from here on hold their data in the entry itself.
constexpr std::uint16_t kFirstInlineData = 0x4000;
// High bytes of the tags that describe a sub-heap.
constexpr std::uint8_t kSubHeapHigh = 0x28;
constexpr std::uint8_t kSubHeapHighAlt = 0x30;
}  // namespace CrwTag

}  // namespace mendrake
