#include "tools/Console.h"

#include <unistd.h>

namespace mendrake::console {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void Write(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

}  // namespace mendrake::console
