#include "tools/RecoverCommand.h"

#include "files/Utf8Path.h"

#include "devices/AttachedCards.h"
#include "devices/DeviceReader.h"
#include "devices/ImageOnCard.h"
#include "devices/OutputOnCard.h"
#include "devices/RootCommand.h"
#include "files/FileError.h"
#include "recovery/CardRecovery.h"
#include "tools/Console.h"
#include "tools/TerminalProgress.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

// The log on standard output; when a progress line is on the same
// terminal, it is wiped first and drawn again below the log's line.
class StdoutLog : public mendrake::LogBox {
 public:
  explicit StdoutLog(TerminalProgress* progress) : progress_(progress) {}
  void Clear() override {}
  void Append(std::string_view line) override {
    if (progress_ != nullptr) progress_->Clear();
    mendrake::console::Write(stdout, std::string(line) + "\n");
    std::fflush(stdout);
  }

 private:
  TerminalProgress* progress_;
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
    // Only a person at a terminal is shown the progress; a script's standard error stays for errors.
    std::optional<TerminalProgress> terminal;
    if (mendrake::console::IsTerminal(stderr)) terminal.emplace(stderr);
    const bool sameTerminal = terminal && mendrake::console::IsTerminal(stdout);
    StdoutLog log(sameTerminal ? &*terminal : nullptr);
    mendrake::RecoveryProgressFn progress;
    if (terminal) progress = [&terminal](const mendrake::RecoveryProgress& done) { return terminal->Show(done); };
    mendrake::RecoveryOptions options;
    options.all = request.all;
    options.imagePath = request.saveImage;
    options.start = request.start;
    const mendrake::RecoverySummary summary = mendrake::RecoverCard(card, outputFolder, log, progress, options);
    if (terminal) terminal->End();
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
