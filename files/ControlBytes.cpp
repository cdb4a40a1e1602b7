#include "files/ControlBytes.h"

#include <cstdint>

namespace mendrake {

std::string EscapeControlBytes(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out.push_back(kHexDigits[byte >> 4]);
      out.push_back(kHexDigits[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace mendrake
