// crwlog: runs a repair over CRW files without a window, as "&Repair/Open"
// does with the same files chosen: prints every log line as it is appended
// and, with two or more files, writes the repaired copies and thumbnails next
// to them. --preview-ppm FILE also writes the last preview shown as binary PPM.
#include "analysis/FileError.h"
#include "analysis/FileIo.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/RepairRun.h"
#include "tools/RecoverCommand.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
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

// No window: the picture view is a slot that keeps the last picture shown.
class PictureKeepingPlatform : public mendrake::Platform {
 public:
  void ShowPicture(const mendrake::RgbBitmap& picture) override { last_ = picture; }
  const std::optional<mendrake::RgbBitmap>& LastPicture() const { return last_; }

 private:
  std::optional<mendrake::RgbBitmap> last_;
};

// Header and pixels go straight to the file: a picture-sized buffer more would
// cost as much as the decode on machines where fresh pages are dear.
void SavePpm(const mendrake::RgbBitmap& picture, const std::string& path) {
  const std::string header =
      "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  mendrake::PendingFile file(path);
  file.Write(reinterpret_cast<const std::uint8_t*>(header.data()), static_cast<std::int64_t>(header.size()));
  file.Write(picture.pixels.data(), static_cast<std::int64_t>(picture.pixels.size()));
  file.Commit();
}

int Usage() {
  std::fputs("usage: crwlog [--preview-ppm FILE] CRW-FILE...\n", stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "crwlog: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--recover") == 0) {
    return argc == 4 ? RunRecoverCommand(argv[2], argv[3]) : Usage();
  }
  int first = 1;
  std::string previewPath;
  if (argc > 1 && std::strcmp(argv[1], "--preview-ppm") == 0) {
    if (argc < 3) return Usage();
    previewPath = argv[2];
    first = 3;
  }
  if (first >= argc) return Usage();
  std::vector<std::string> paths;
  for (int i = first; i < argc; ++i) {
    // Full paths, as the open dialog gives them; links are kept as named.
    paths.push_back(std::filesystem::absolute(argv[i]).string());
  }

  mendrake::AnalysisState state;
  StdoutLog log;
  PictureKeepingPlatform platform;
  mendrake::RepairContext context{state, log, platform};
  try {
    mendrake::RepairRun(context, paths);
    if (!previewPath.empty()) {
      if (!platform.LastPicture()) return Fail("no preview was shown; \"" + previewPath + "\" was not written");
      SavePpm(*platform.LastPicture(), previewPath);
    }
  } catch (const mendrake::FileError& error) {
    return Fail(error.what());
  }
  return 0;
}
