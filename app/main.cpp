#include "app/Artwork.h"
#include "app/CommandLine.h"
#include "app/CrashReporting.h"
#include "app/MendrakeApplication.h"
#include "app/QtDialogs.h"
#include "app/vazidi.h"

#include <QTimer>

#include <cstdio>
#include <optional>
#include <filesystem>
#include <functional>
#include <span>
#include <system_error>

namespace {

constexpr int kDialogPollMilliseconds = 100;

// Read before the application object exists: --help and --version need no display.
std::optional<mendrake::window::CommandLine> ReadCommandLine(int argc, char** argv, int& exitStatus) {
  using namespace mendrake::window;
  try {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    const CommandLine line = ParseCommandLine(std::span<const char* const>(argv + 1, argc > 0 ? argc - 1 : 0), here);
    if (line.action == CommandLine::Action::kOpen) return line;
    std::fputs(line.action == CommandLine::Action::kHelp ? HelpText().c_str() : VersionText().c_str(), stdout);
    exitStatus = std::fflush(stdout) == 0 ? 0 : kExitUsageError;
  } catch (const UsageError& usage) {
    std::fprintf(stderr, "mendrake: %s\n", usage.message.c_str());
    exitStatus = kExitUsageError;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  int exitStatus = 0;
  const auto commandLine = ReadCommandLine(argc, argv, exitStatus);
  if (!commandLine) return exitStatus;

  mendrake::MendrakeApplication application(argc, argv);
  mendrake::MendrakeApplication::setWindowIcon(mendrake::ApplicationIcon());
  mendrake::MendrakeApplication::setDesktopFileName(QStringLiteral(MENDRAKE_APP_ID));
  mendrake::QtDialogs dialogs;
  mendrake::TForm1 form(dialogs);
  mendrake::StartCrashReporting(form);
  form.show();
  // Files given run once the window is on screen, as if chosen in the open
  // dialog, and after any error report shown at start-up is closed: behind
  // that dialog the run could not be cancelled.
  std::function<void()> openFiles = [&form, &openFiles, files = commandLine->files] {
    if (QApplication::activeModalWidget() != nullptr) {
      QTimer::singleShot(kDialogPollMilliseconds, &form, openFiles);
      return;
    }
    form.OpenFiles(files);
  };
  if (!commandLine->files.empty()) QTimer::singleShot(0, &form, openFiles);
  return application.exec();
}
