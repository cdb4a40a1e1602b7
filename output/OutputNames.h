#pragma once

#include <string>
#include <string_view>

namespace mendrake {

// Which characters end a folder name: '/' on POSIX; '\', '/' and the drive
// colon on Windows. The rules below are pure functions of the text, so either
// style can be applied (and tested) on any host.
enum class PathStyle { kPosix, kWindows };

#ifdef _WIN32
inline constexpr PathStyle kHostPathStyle = PathStyle::kWindows;
#else
inline constexpr PathStyle kHostPathStyle = PathStyle::kPosix;
#endif

// The extension of the file-name part: from its last dot on, or empty when it
// has none. Dots in folder names do not count.
std::string_view FileExtension(std::string_view path, PathStyle style = kHostPathStyle);

// The repaired copy's name keeps the whole file name, extension included, and
// repeats the extension: IMG_0815.CRW gives IMG_0815.CRW_repaired.CRW, scan
// gives scan_repaired. Empty for an empty target.
std::string OutputNameForRepaired(std::string_view target, PathStyle style = kHostPathStyle);

// The thumbnail's name replaces the extension with ".jpg", or appends it to a
// file name without one: IMG_0815.CRW gives IMG_0815.jpg. Empty for an empty source.
std::string OutputNameForThumbnail(std::string_view source, PathStyle style = kHostPathStyle);

}  // namespace mendrake
