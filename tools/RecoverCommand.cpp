#include "tools/RecoverCommand.h"

#include "devices/AttachedCards.h"
#include "devices/CardRecoveryStart.h"
#include "devices/ImageOnCard.h"
#include "devices/RootCommand.h"
#include "files/FileError.h"
#include "files/Utf8Path.h"
#include "recovery/CardRecovery.h"
#include "tools/Console.h"
#include "tools/ConsoleLog.h"
#include "tools/CrwlogOptions.h"
#include "tools/TerminalProgress.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// The run's log; when a progress line is on the same terminal, it is wiped
// first and drawn again below the log's line.
class LogBelowProgress : public mendrake::LogBox {
 public:
  LogBelowProgress(mendrake::LogBox& log, TerminalProgress* progress) : log_(log), progress_(progress) {}
  void Clear() override { log_.Clear(); }
  void Append(std::string_view line) override {
    if (progress_ != nullptr) progress_->Clear();
    log_.Append(line);
  }

 private:
  mendrake::LogBox& log_;
  TerminalProgress* progress_;
};

// Before the folder is made: an image that would land on the card, or
// replace a file, is refused as the folder on the card is. The image itself
// is made without replacing.
void RefuseImage(const RecoverRequest& request) {
  if (request.saveImage.empty()) return;
  mendrake::RefuseImageOnCard(request.image, request.saveImage);
  std::error_code error;
  if (!request.start && std::filesystem::exists(mendrake::PathFromUtf8(request.saveImage), error)) {
    throw mendrake::FileError(request.saveImage, "already exists, and is not replaced (--start fills an image further)");
  }
}

}  // namespace

int RunRecoverCommand(const RecoverRequest& request) {
  using mendrake::crwlog::Fail;
  using mendrake::crwlog::kExitNotCarriedOut;
  const std::string& image = request.image;
  const std::string& outputFolder = request.outputFolder;
  try {
    RefuseImage(request);
    // A start past the card's end is refused before the folder is made.
    const auto open = [&request](const std::string& source) {
      auto card = std::make_unique<mendrake::DeviceReader>(source);
      if (request.start && *request.start >= card->Size()) {
        throw mendrake::FileError(source, "--start " + std::to_string(*request.start) +
                                              " is not before the card's end (" + std::to_string(card->Size()) +
                                              " bytes)");
      }
      return card;
    };
    const std::unique_ptr<mendrake::DeviceReader> card = mendrake::StartCardRecovery(image, outputFolder, open);
    // Only a person at a terminal is shown the progress; a script's standard error stays for errors.
    std::optional<TerminalProgress> terminal;
    if (mendrake::console::IsTerminal(stderr)) terminal.emplace(stderr);
    const bool sameTerminal = terminal && mendrake::console::IsTerminal(stdout);
    mendrake::crwlog::ConsoleLog console(/*flushEachLine=*/true);
    LogBelowProgress log(console, sameTerminal ? &*terminal : nullptr);
    mendrake::RecoveryProgressFn progress;
    if (terminal) progress = [&terminal](const mendrake::RecoveryProgress& done) { return terminal->Show(done); };
    mendrake::RecoveryOptions options;
    options.all = request.all;
    options.imagePath = request.saveImage;
    options.start = request.start;
    const mendrake::RecoverySummary summary = mendrake::RecoverCard(*card, outputFolder, log, progress, options);
    if (terminal) terminal->End();
    if (summary.outputFull) return kExitNotCarriedOut;
    if (summary.stopped != mendrake::RecoverySummary::Stop::kNone) return 1;
    // A card from which no CRW came back is a failure, whatever was left on it.
    return summary.recovered > 0 && summary.damaged == 0 ? 0 : 1;
  } catch (const mendrake::CardAccessDenied& failure) {
    return Fail(std::string(failure.what()) + "\n" + mendrake::ReadAccessAdvice(image, outputFolder), kExitNotCarriedOut);
  } catch (const mendrake::FileError& failure) {
    return Fail(failure.what(), kExitNotCarriedOut);
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
