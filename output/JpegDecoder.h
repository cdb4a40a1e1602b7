#pragma once

#include "output/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace mendrake {

// Pictures larger than this are not decoded: a crafted header could otherwise
// ask for gigabytes (65500 x 65500 pixels). Camera thumbnails hold a few
// megapixels. The decoder spends some 25 ns a pixel whether or not the file
// holds data for it (it fills in what is missing), so this also bounds what a
// crafted 50-byte thumbnail costs: at 64 megapixels some 1.6 s and 192 MiB of
// pixels, at 16 0.4 s (over a second on a busy machine), at 8 0.2 s.
inline constexpr std::int64_t kMaxJpegPixels = std::int64_t{8} << 20;
// Progressive pictures with more scans than this are not decoded: each scan
// makes the decoder pass over the whole picture again, and cameras write one.
inline constexpr int kMaxJpegScans = 500;
// Nor are those whose scans so far, times the picture's pixels, pass this: 16
// passes over the largest picture (a standard progressive script has about
// ten). Without it a 4 KB thumbnail of 400 scans over 8 megapixels took 0.7 s.
inline constexpr std::int64_t kMaxJpegScanPixels = 16 * kMaxJpegPixels;

// Once every row is decoded, at most this many further bytes are searched for
// the end-of-image marker. Camera thumbnails have it right after their data.
// The search takes under a nanosecond a byte: a megabyte costs a millisecond,
// while the rest of a 2 GiB file image without a marker (a cut thumbnail that
// a zero-filled card area follows) would cost well over a second.
inline constexpr std::size_t kMaxJpegBytesAfterRows = std::size_t{1} << 20;

// Reads the JPEG header at the start of bytes; false when the decoder fails on
// it. Warnings are ignored.
bool ReadJpegHeader(std::span<const std::uint8_t> bytes, int& width, int& height);

// Decodes the JPEG picture at the start of bytes at full size into RGB pixels.
// Returns false when the decoder fails (an unreadable header, data it cannot
// decode, a colour space without an RGB conversion, a picture past the limits
// above, a fault met on the way from the last row to the end-of-image marker);
// picture is then unspecified. Warnings are ignored, so image data that ends
// early decodes as far as it goes, and the decoder's fill for the rest.
bool DecodeJpeg(std::span<const std::uint8_t> bytes, RgbBitmap& picture);

// The same, but any warning fails it too: data that ends early, corrupt data
// the decoder would fill in, bytes between the last scan and the end marker.
// True only for a picture that lies whole in bytes, as a JPEG recovered
// without its file must.
bool DecodeWholeJpeg(std::span<const std::uint8_t> bytes, RgbBitmap& picture);

}  // namespace mendrake
