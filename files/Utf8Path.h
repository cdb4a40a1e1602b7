#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mendrake {

// Names are UTF-8 strings everywhere in Mendrake. A std::filesystem::path
// made from a plain string reads it in the system's narrow encoding, which on
// Windows is the ANSI code page, not UTF-8: these go through char8_t, which
// every system reads as UTF-8 (on Linux the bytes pass as they are).
inline std::filesystem::path PathFromUtf8(std::string_view name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace mendrake
