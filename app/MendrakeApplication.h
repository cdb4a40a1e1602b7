#pragma once

#include <QApplication>

namespace mendrake {

// The application-wide error handler: an exception that leaves any event
// handler is shown to the user and stops there, so none crosses Qt's event loop.
// The window's commands catch their own errors first; this is the last net.
class MendrakeApplication : public QApplication {
  Q_OBJECT

 public:
  MendrakeApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace mendrake
