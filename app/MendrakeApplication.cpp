#include "app/MendrakeApplication.h"

#include "app/ErrorReportDialog.h"
#include "crash/CrashNotes.h"
#include "crash/ReportStore.h"
#include "crash/ReportText.h"
#include "crash/ThrowSite.h"

#include <QAction>
#include <QEvent>
#include <QMessageBox>
#include <QToolButton>

#include <cstdlib>
#include <memory>

namespace mendrake {
namespace {

// The command an event starts: a shortcut of an action, or a click on a
// toolbar button that shows one.
QAction* CommandOf(QObject* receiver, QEvent* event) {
  if (event->type() == QEvent::Shortcut) return qobject_cast<QAction*>(receiver);
  if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease) {
    if (auto* button = qobject_cast<QToolButton*>(receiver)) return button->defaultAction();
  }
  return nullptr;
}

// Names the command in the crash notes while its event is handled.
class CommandInProgress {
 public:
  explicit CommandInProgress(QAction* command) : active_(command != nullptr) {
    if (!active_) return;
    previous_ = crash::Notes().Command();
    QString caption = command->text();
    caption.remove(QLatin1Char('&'));
    crash::Notes().SetCommand((caption + QStringLiteral(" (") + command->objectName() + QLatin1Char(')')).toStdString());
  }
  ~CommandInProgress() {
    if (active_) crash::Notes().SetCommand(previous_);
  }
  CommandInProgress(const CommandInProgress&) = delete;
  CommandInProgress& operator=(const CommandInProgress&) = delete;

 private:
  bool active_;
  std::string previous_;
};

}  // namespace

MendrakeApplication::MendrakeApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Mendrake"));
}

bool MendrakeApplication::notify(QObject* receiver, QEvent* event) {
  const CommandInProgress command(CommandOf(receiver, event));
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    if (!CurrentExceptionIsFileError()) {
      ReportUnexpectedError();
      return false;
    }
    const CommandError error = DescribeCurrentException();
    if (display_) {
      display_(error);
    } else {
      QMessageBox::critical(activeWindow(), error.title, error.text);
    }
    return false;
  }
}

void MendrakeApplication::ReportUnexpectedError() {
  const crash::ExceptionFacts facts = CurrentExceptionFacts();
  auto record = std::make_unique<crash::CrashRecord>();
  std::string maps;
  crash::CaptureHere(*record, maps);
  crash::TakeThrowSite(CurrentExceptionObject(), *record);
  const QString report = QString::fromStdString(crash::BuildReport(*record, maps, &facts));
  QString savedName;
  try {
    const std::filesystem::path saved = crash::SaveReport(crash::ReportFolder(), report.toStdString(),
                                                          static_cast<std::time_t>(record->time), false);
    savedName = QString::fromStdString(saved.filename().string());
  } catch (const std::exception&) {
    // The dialog still shows the report, and can save it elsewhere.
  }
  if (reportDisplay_) {
    reportDisplay_(report);
    return;
  }
  ErrorReportDialog dialog(report, true, savedName, activeWindow());
  if (dialog.exec() == ErrorReportDialog::kCloseMendrake) QCoreApplication::exit(EXIT_FAILURE);
}

}  // namespace mendrake
