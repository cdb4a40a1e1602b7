#include "tools/RecoverCommand.h"

#include "devices/AttachedCards.h"
#include "devices/CardRecoveryStart.h"
#include "devices/RootCommand.h"
#include "files/FileError.h"
#include "recovery/CardRecovery.h"
#include "tools/Console.h"
#include "tools/ConsoleLog.h"
#include "tools/CrwlogOptions.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

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

}  // namespace

int RunRecoverCommand(const char* image, const char* outputFolder, bool all) {
  using mendrake::crwlog::Fail;
  using mendrake::crwlog::kExitNotCarriedOut;
  try {
    const std::unique_ptr<mendrake::DeviceReader> card = mendrake::StartCardRecovery(image, outputFolder);
    mendrake::crwlog::ConsoleLog log(/*flushEachLine=*/true);
    mendrake::RecoveryProgressFn progress;
    if (mendrake::console::IsTerminal(stderr)) progress = TerminalProgress();
    mendrake::RecoveryOptions options;
    options.all = all;
    const mendrake::RecoverySummary summary = mendrake::RecoverCard(*card, outputFolder, log, progress, options);
    if (summary.outputFull) return kExitNotCarriedOut;
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
