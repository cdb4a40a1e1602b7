// cardmake KIND SIZE OUTPUT: writes a hostile card image of about SIZE bytes
// (suffix KiB or MiB) of one kind, for the bench and by hand; cardmake --list
// names the kinds.
#include "tests/support/HostileCards.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  using namespace mendrake::testing;
  if (argc == 2 && std::string(argv[1]) == "--list") {
    for (const HostileCardKind& kind : HostileCardKinds()) std::puts(kind.name);
    return 0;
  }
  if (argc != 4) {
    std::fputs("usage: cardmake KIND SIZE OUTPUT, or cardmake --list\n", stderr);
    return 2;
  }
  const std::string size = argv[2];
  std::size_t bytes = std::strtoull(size.c_str(), nullptr, 10);
  if (size.ends_with("MiB")) bytes <<= 20;
  if (size.ends_with("KiB")) bytes <<= 10;
  for (const HostileCardKind& kind : HostileCardKinds()) {
    if (argv[1] != std::string(kind.name)) continue;
    WriteFile(argv[3], kind.build(bytes));
    return 0;
  }
  std::fprintf(stderr, "cardmake: no kind \"%s\" (cardmake --list names them)\n", argv[1]);
  return 2;
}
