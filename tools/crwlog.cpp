// crwlog: analyses CRW files without a window, as "&Repair/Open" does with the
// same files chosen, and prints every log line as it is appended.
#include "analysis/FileError.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class StdoutLog : public mendrake::LogBox {
 public:
  void Clear() override {}
  void Append(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
};

int Usage() {
  std::fputs("usage: crwlog FILE...\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    // Full paths, as the open dialog gives them; links are kept as named.
    paths.push_back(std::filesystem::absolute(argv[i]).string());
  }

  mendrake::AnalysisState state;
  StdoutLog log;
  mendrake::HeadlessPlatform platform;
  mendrake::RepairContext context{state, log, platform};
  try {
    mendrake::FileImage image;
    log.Clear();
    for (const std::string& path : paths) mendrake::RepairFile(context, image, path);
  } catch (const mendrake::FileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "crwlog: %s\n", error.what());
    return 1;
  }
  return 0;
}
