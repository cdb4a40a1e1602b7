#pragma once

#include <string>
#include <string_view>

namespace mendrake {

// Text taken from a file (a camera's make and model, a file's name) is shown
// as text: each control byte (0x00 to 0x1F and 0x7F) becomes \xNN with two
// upper-case hex digits, so that no such string can move a terminal's cursor,
// change its colours or start a line of its own in a log. Every other byte,
// UTF-8 sequences included, is kept as it is.
std::string EscapeControlBytes(std::string_view text);

}  // namespace mendrake
