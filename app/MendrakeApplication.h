#pragma once

#include "app/CommandError.h"

#include <QApplication>

#include <functional>

namespace mendrake {

// The application-wide error handler: an exception that leaves any event
// handler is shown to the user and stops there, so none crosses Qt's event loop.
// The window's commands catch their own errors first; this is the last net.
class MendrakeApplication : public QApplication {
  Q_OBJECT

 public:
  MendrakeApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // How such an error is shown; a message box unless replaced (tests).
  void SetErrorDisplay(std::function<void(const CommandError&)> display) { display_ = std::move(display); }

 private:
  std::function<void(const CommandError&)> display_;
};

}  // namespace mendrake
