#include "app/MendrakeApplication.h"

#include <QMessageBox>

namespace mendrake {

MendrakeApplication::MendrakeApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Mendrake"));
}

bool MendrakeApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    const CommandError error = DescribeCurrentException();
    if (display_) {
      display_(error);
    } else {
      QMessageBox::critical(activeWindow(), error.title, error.text);
    }
    return false;
  }
}

}  // namespace mendrake
