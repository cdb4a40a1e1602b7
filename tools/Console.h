#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments and standard streams as each system has them. Text
// inside is UTF-8; on Windows the arguments come from the wide command line,
// and text for a console window goes to it as UTF-16, so that a name with
// letters outside the console's code page shows as it is. Text for a file or
// a pipe is written as it is.
namespace mendrake::console {

// The arguments after the program's name, UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

void Write(std::FILE* stream, std::string_view text);

// True when the stream is a terminal or a console window.
bool IsTerminal(std::FILE* stream);

}  // namespace mendrake::console
