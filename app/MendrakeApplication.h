#pragma once

#include "app/CommandError.h"

#include <QApplication>

#include <functional>

class QAction;

namespace mendrake {

// The application-wide error handler: an exception that leaves any event
// handler is shown to the user and stops there, so none crosses Qt's event
// loop. The window's commands catch their own file-system errors first; any
// other error that gets here is written up as an error report, shown in the
// report dialog, and the program goes on unless the user chooses to close it.
// While a command's event is handled, the error reports name the command.
class MendrakeApplication : public QApplication {
  Q_OBJECT

 public:
  MendrakeApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // How a file-system error is shown; a message box unless replaced (tests).
  void SetErrorDisplay(std::function<void(const CommandError&)> display) { display_ = std::move(display); }
  // How an error report is shown; the report dialog unless replaced (tests).
  void SetReportDisplay(std::function<void(const QString& report)> display) { reportDisplay_ = std::move(display); }

 private:
  void ReportUnexpectedError();

  std::function<void(const CommandError&)> display_;
  std::function<void(const QString&)> reportDisplay_;
};

}  // namespace mendrake
