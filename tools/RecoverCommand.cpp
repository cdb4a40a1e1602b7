#include "tools/RecoverCommand.h"

#include "files/FileError.h"
#include "recovery/AttachedCards.h"
#include "recovery/CardRecovery.h"
#include "recovery/OutputOnCard.h"
#include "recovery/RootCommand.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

class StdoutLog : public mendrake::LogBox {
 public:
  void Clear() override {}
  void Append(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
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
  std::fprintf(stderr, "crwlog: %s\n", message.c_str());
  return 2;
}

}  // namespace

int RunRecoverCommand(const char* image, const char* outputFolder, bool all) {
  try {
    // Before anything is read or made: no file may be written onto the card.
    mendrake::RefuseOutputOnCard(image, outputFolder);
    // The card first: a card that cannot be read leaves no new empty folder.
    mendrake::DeviceReader card(image);
    std::error_code error;
    std::filesystem::create_directories(outputFolder, error);
    if (error || !std::filesystem::is_directory(outputFolder)) {
      return Fail("cannot use \"" + std::string(outputFolder) + "\" as the output folder: " +
                  (error ? error.message() : "not a folder"));
    }
    StdoutLog log;
    mendrake::RecoveryProgressFn progress;
    if (isatty(STDERR_FILENO)) progress = TerminalProgress();
    mendrake::RecoveryOptions options;
    options.all = all;
    const mendrake::RecoverySummary summary = mendrake::RecoverCard(card, outputFolder, log, progress, options);
    if (summary.outputFull) return 2;
    return summary.recovered + summary.listed > 0 && summary.damaged == 0 ? 0 : 1;
  } catch (const mendrake::CardAccessDenied& failure) {
    return Fail(std::string(failure.what()) + "\nTo read it, run the recovery as root: " +
                mendrake::RecoverAsRootCommand(image, outputFolder));
  } catch (const mendrake::FileError& failure) {
    return Fail(failure.what());
  }
}

int RunListCardsCommand(bool allDrives) {
  const std::vector<mendrake::AttachedCard> cards = mendrake::ListAttachedCards(allDrives);
  std::fputs(mendrake::CardListText(cards).c_str(), stdout);
  // Standard output stays empty for scripts; the person at the terminal is told why.
  if (cards.empty()) {
    std::fputs(allDrives ? "crwlog: no drive is attached\n"
                         : "crwlog: no card or removable drive is attached (--all-drives lists the fixed disks too)\n",
               stderr);
  }
  return 0;
}
