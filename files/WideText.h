#pragma once

#include <string>
#include <string_view>

namespace mendrake {

// Windows speaks UTF-16 in its wide calls; Mendrake keeps names and text as
// UTF-8. Ill-formed input becomes U+FFFD rather than failing: a name is shown
// or tried, never dropped.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The name as the wide file calls take it: a full path, '/' turned into '\',
// and the "\\?\" prefix that lifts the 260-character limit. Names of devices
// ("\\.\E:") and names with that prefix already are kept as they are.
std::wstring LongPath(const std::string& path);

// The system's text for an error code, without the line break it ends with.
std::string WindowsErrorText(unsigned long error);

}  // namespace mendrake
