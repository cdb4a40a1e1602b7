#include "app/Manual.h"

#include "analysis/LogBox.h"
#include "app/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#ifndef MENDRAKE_MANUAL_FROM_BINDIR
#error "MENDRAKE_MANUAL_FROM_BINDIR must be defined by the build"
#endif

namespace mendrake {

QString ManualPath() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QStringLiteral(MENDRAKE_MANUAL_FROM_BINDIR));
}

void OpenManual(Dialogs& dialogs, LogBox& log) {
  const QString path = ManualPath();
  const std::string shown = QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
  if (!QFileInfo(path).isFile()) {
    log.Append("The manual is not installed; it was expected at " + shown);
    return;
  }
  if (!dialogs.OpenWebAddress(QUrl::fromLocalFile(path))) {
    log.Append("No browser could open the manual. It is at " + shown);
  }
}

}  // namespace mendrake
