#include "tools/RecoverCommand.h"

#include "files/Utf8Path.h"

#include "files/FileError.h"
#include "recovery/AttachedCards.h"
#include "recovery/CardRecovery.h"
#include "recovery/ImageOnCard.h"
#include "recovery/OutputOnCard.h"
#include "recovery/RootCommand.h"
#include "tools/Console.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class StdoutLog : public mendrake::LogBox {
 public:
  void Clear() override {}
  void Append(std::string_view line) override {
    mendrake::console::Write(stdout, std::string(line) + "\n");
    std::fflush(stdout);
  }
};

// Bytes scanned, files found and time left, rewritten in place about four
// times a second; only for a person at a terminal.
class TerminalProgress {
 public:
  bool operator()(const mendrake::RecoveryProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_ < std::chrono::milliseconds(250) && progress.scanned < progress.total) return true;
    shown_ = now;
    const double elapsed = std::chrono::duration<double>(now - begun_).count();
    const double left = progress.scanned > 0
                            ? elapsed * static_cast<double>(progress.total - progress.scanned) / progress.scanned
                            : 0;
    std::fprintf(stderr, "\r%lld of %lld MiB scanned, %d files found, %.0f s left   ",
                 static_cast<long long>(progress.scanned >> 20), static_cast<long long>(progress.total >> 20),
                 progress.filesFound, left);
    if (progress.scanned >= progress.total) std::fputc('\n', stderr);
    return true;
  }

 private:
  std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
};

int Fail(const std::string& message) {
  std::fflush(stdout);
  mendrake::console::Write(stderr, "crwlog: " + message + "\n");
  return 2;
}

}  // namespace

int RunRecoverCommand(const RecoverRequest& request) {
  const std::string& image = request.image;
  const std::string& outputFolder = request.outputFolder;
  try {
    // Before anything is read or made: no file may be written onto the card.
    mendrake::RefuseOutputOnCard(image, outputFolder);
    if (!request.saveImage.empty()) mendrake::RefuseImageOnCard(image, request.saveImage);
    // The card first: a card that cannot be read leaves no new empty folder.
    mendrake::DeviceReader card(image);
    if (request.start && *request.start >= card.Size()) {
      return Fail("--start " + std::to_string(*request.start) + " is not before the card's end (" +
                  std::to_string(card.Size()) + " bytes)");
    }
    std::error_code error;
    // Refused before the folder is made; the image itself is made without replacing.
    if (!request.saveImage.empty() && !request.start &&
        std::filesystem::exists(mendrake::PathFromUtf8(request.saveImage), error)) {
      return Fail("\"" + request.saveImage + "\": already exists, and is not replaced (--start fills an image further)");
    }
    const std::filesystem::path folder = mendrake::PathFromUtf8(outputFolder);
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder)) {
      return Fail("cannot use \"" + outputFolder + "\" as the output folder: " +
                  (error ? error.message() : "not a folder"));
    }
    StdoutLog log;
    mendrake::RecoveryProgressFn progress;
    if (mendrake::console::IsTerminal(stderr)) progress = TerminalProgress();
    mendrake::RecoveryOptions options;
    options.all = request.all;
    options.imagePath = request.saveImage;
    options.start = request.start;
    const mendrake::RecoverySummary summary = mendrake::RecoverCard(card, outputFolder, log, progress, options);
    if (summary.outputFull) return 2;
    if (summary.stopped != mendrake::RecoverySummary::Stop::kNone) return 1;
    return summary.recovered + summary.listed > 0 && summary.damaged == 0 ? 0 : 1;
  } catch (const mendrake::CardAccessDenied& failure) {
    return Fail(std::string(failure.what()) + "\n" + mendrake::ReadAccessAdvice(image, outputFolder));
  } catch (const mendrake::FileError& failure) {
    return Fail(failure.what());
  }
}

int RunListCardsCommand(bool allDrives) {
  const std::vector<mendrake::AttachedCard> cards = mendrake::ListAttachedCards(allDrives);
  mendrake::console::Write(stdout, mendrake::CardListText(cards));
  // Standard output stays empty for scripts; the person at the terminal is told why.
  if (cards.empty()) {
    mendrake::console::Write(stderr, allDrives ? "crwlog: no drive is attached\n"
                                               : "crwlog: no card or removable drive is attached (--all-drives lists "
                                                 "the fixed disks too)\n");
  }
  return 0;
}
