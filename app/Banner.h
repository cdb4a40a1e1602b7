#pragma once

#include <array>
#include <string_view>

namespace mendrake {

// The three lines the log box opens with: a border, the title line with the
// maker's notice, the border again. All three are 71 characters wide.
const std::array<std::string_view, 3>& BannerLines();

// What "Help" appends, line by line.
const std::array<std::string_view, 12>& HelpLines();

}  // namespace mendrake
