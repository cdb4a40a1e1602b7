#pragma once

#include <string>
#include <string_view>

namespace mendrake {

// Camera make and model strings are stored in Windows-1252; the log is UTF-8.
// Bytes that code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 control of the same value, as Windows' own conversion does.
std::string Windows1252ToUtf8(std::string_view text);

}  // namespace mendrake
