// cardmake KIND SIZE OUTPUT: writes a hostile card image of about SIZE bytes
// (suffix KiB or MiB) of one kind, for the bench and by hand; cardmake --list
// names the kinds.
// cardmake camera OUTPUT TRUTH [options]: a card a camera filled over months
// (CameraCard.h), and under TRUTH the photos it shot: live/ those on the card
// when it was formatted or deleted, gone/ those deleted in the camera, and
// pieces.txt ("CRW_0012.CRW 2 live 81920-1654784 1720320-2015232") the runs
// of card bytes of each.
#include "tests/support/CameraCard.h"
#include "tests/support/HostileCards.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::int64_t Size(const std::string& text) {
  std::int64_t bytes = std::strtoll(text.c_str(), nullptr, 10);
  if (text.ends_with("GiB")) bytes <<= 30;
  if (text.ends_with("MiB")) bytes <<= 20;
  if (text.ends_with("KiB")) bytes <<= 10;
  return bytes;
}

int CameraCardCommand(int argc, char** argv) {
  using namespace mendrake::testing;
  CameraCardOptions options;
  for (int i = 4; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool value = i + 1 < argc;
    if (arg == "--fat32") options.fat32 = true;
    else if (arg == "--next-free") options.nextFree = true;
    else if (arg == "--deleted-on-computer") options.quickFormat = false;
    else if (arg == "--size" && value) options.size = Size(argv[++i]);
    else if (arg == "--cluster" && value) options.clusterSize = Size(argv[++i]);
    else if (arg == "--rounds" && value) options.rounds = std::atoi(argv[++i]);
    else if (arg == "--shots" && value) options.shotsPerRound = std::atoi(argv[++i]);
    else if (arg == "--seed" && value) options.seed = static_cast<std::uint32_t>(std::atoi(argv[++i]));
    else if (arg == "--deleted-percent" && value) options.deletePercent = std::atoi(argv[++i]);
    else if (arg == "--jpg-percent" && value) options.jpgPercent = std::atoi(argv[++i]);
    else if (arg == "--sensor" && value && std::sscanf(argv[++i], "%ux%u", &options.width, &options.height) == 2) {}
    else {
      std::fprintf(stderr, "cardmake camera: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  const CameraCard card = MakeCameraCard(options);
  WriteFile(argv[2], card.image);
  const std::filesystem::path truth = argv[3];
  std::filesystem::create_directories(truth / "live");
  std::filesystem::create_directories(truth / "gone");
  std::ofstream pieces(truth / "pieces.txt");
  for (const CameraCardPhoto& photo : card.photos) {
    WriteFile((truth / (photo.deletedInCamera ? "gone" : "live") / photo.name).string(), photo.bytes);
    pieces << photo.name << ' ' << photo.pieces << (photo.deletedInCamera ? " gone" : " live");
    for (const auto& [from, to] : photo.runs) pieces << ' ' << from << '-' << to;
    pieces << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mendrake::testing;
  if (argc == 2 && std::string(argv[1]) == "--list") {
    for (const HostileCardKind& kind : HostileCardKinds()) std::puts(kind.name);
    return 0;
  }
  try {
    if (argc >= 4 && std::string(argv[1]) == "camera") return CameraCardCommand(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "cardmake camera: %s\n", failure.what());
    return 2;
  }
  if (argc != 4) {
    std::fputs("usage: cardmake KIND SIZE OUTPUT, cardmake camera OUTPUT TRUTH [options], or cardmake --list\n",
               stderr);
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
