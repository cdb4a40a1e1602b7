// crwlog: runs a repair over CRW files without a window, as "&Repair/Open"
// does with the same files chosen: prints every log line as it is appended
// and, with two or more files, writes the repaired copies and thumbnails next
// to them. --preview-ppm FILE also writes the last preview shown as binary PPM.
// The exit status says what happened (crwlog --help).
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "output/Bitmap.h"
#include "crash/CrashHandler.h"
#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "files/FileIo.h"
#include "files/Utf8Path.h"
#include "repair/RepairRun.h"
#include "tools/Console.h"
#include "tools/ConsoleLog.h"
#include "tools/CrwlogOptions.h"
#include "tools/RecoverCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace mendrake::crwlog;

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

std::string Quoted(const std::string& text) { return "\"" + mendrake::EscapeControlBytes(text) + "\""; }

// The picture is written by rename, so it would take the place of an input
// that it names: the CRW file would be gone. Refused before anything is done.
void CheckPreviewNamesNoInput(const Options& options) {
  for (const std::string& file : options.files) {
    if (mendrake::NameTheSameFile(options.previewPpm, file)) {
      throw UsageError{"the --preview-ppm file " + Quoted(options.previewPpm) + " is the CRW file " + Quoted(file) +
                       "; nothing was written"};
    }
  }
}

int Print(const std::string& text) {
  mendrake::console::Write(stdout, text);
  return kExitAllRepaired;
}

int Repair(const Options& options) {
  std::vector<std::string> paths;
  // Full paths, as the open dialog gives them; links are kept as named.
  for (const std::string& file : options.files) paths.push_back(mendrake::Utf8Of(std::filesystem::absolute(mendrake::PathFromUtf8(file))));

  mendrake::AnalysisState state;
  mendrake::crash::InstallCrashHandler({.program = "crwlog", .announce = true}, &state.CurrentFilename);
  ConsoleLog log;
  PictureKeepingPlatform platform;
  mendrake::RepairContext context{state, log, platform};
  const mendrake::RunOutcome outcome = mendrake::RepairRun(context, paths);
  if (!options.previewPpm.empty()) {
    if (!platform.LastPicture()) {
      return Fail("no preview was shown; " + Quoted(options.previewPpm) + " was not written", kExitNotCarriedOut);
    }
    SavePpm(*platform.LastPicture(), options.previewPpm);
  }
  return outcome.sizesFound == paths.size() ? kExitAllRepaired : kExitSomeNotRepaired;
}

// A crash during a card scan names the image in its report.
int Recover(const Options& options) {
  mendrake::crash::InstallCrashHandler({.program = "crwlog", .announce = true}, &options.recoverImage);
  RecoverRequest request;
  request.image = options.recoverImage;
  request.outputFolder = options.recoverFolder;
  request.all = options.recoverAll;
  request.saveImage = options.saveImage;
  request.start = options.start;
  return RunRecoverCommand(request);
}

int Run(std::span<const char* const> arguments) {
  try {
    const Options options = ParseOptions(arguments);
    if (options.action == Options::Action::kHelp) return Print(HelpText());
    if (options.action == Options::Action::kVersion) return Print(VersionText());
    if (options.action == Options::Action::kRecover) return Recover(options);
    if (options.action == Options::Action::kListCards) return RunListCardsCommand(options.allDrives);
    if (!options.previewPpm.empty()) CheckPreviewNamesNoInput(options);
    return Repair(options);
  } catch (const UsageError& error) {
    return Fail(error.message, kExitNotCarriedOut);
  } catch (const mendrake::FileError& error) {
    return Fail(error.what(), kExitNotCarriedOut);
  }
}

// The log is the report: when it could not all be written, the run is not done.
int FlushLog(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  const int error = errno;
  return Fail(std::string("cannot write the log: ") + std::strerror(error), kExitNotCarriedOut);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = mendrake::console::Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  return FlushLog(Run(pointers));
}
