#include "app/QtPlatform.h"

#include "app/PictureView.h"
#include "output/Bitmap.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QImage>
#include <QWidget>

namespace mendrake {
namespace {

// "*.crw" becomes "*.[cC][rR][wW]": Qt's dialog matches patterns case-sensitively
// on Linux, while camera files are named in capitals.
QString CaseInsensitivePattern(const QString& pattern) {
  if (pattern == QLatin1String("*.*")) return QStringLiteral("*");
  QString result;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace

QStringList QtNameFilters(const std::string& windowsFilter) {
  const QStringList parts = QString::fromStdString(windowsFilter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = CaseInsensitivePattern(pattern.trimmed());
    // The dialog shows the description alone (the patterns are hidden), so the
    // description reads as it does on Windows.
    filters << parts.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

QtPlatform::QtPlatform(QWidget& window, Dialogs& dialogs, PictureView& pictureView)
    : window_(window), dialogs_(dialogs), pictureView_(pictureView) {
  sinceEvents_.start();
}

QtPlatform::~QtPlatform() {
  while (busyDepth_ > 0) SetBusyCursor(false);
}

void QtPlatform::ProcessEventsIfDue() {
  ++clockChecks_;
  const bool chosen = chooser_ && chooser_(clockChecks_);
  if (!chosen && sinceEvents_.elapsed() < kEventIntervalMs) return;
  ++eventRounds_;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  sinceEvents_.restart();
}

void QtPlatform::SetBusyCursor(bool busy) {
  if (busy) {
    ++busyDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    --busyDepth_;
    QApplication::restoreOverrideCursor();
  }
}

std::optional<std::string> QtPlatform::AskSaveFileName(const std::string& defaultExtension,
                                                       const std::string& filter) {
  QString suffix = QString::fromStdString(defaultExtension);
  if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  const std::optional<QString> chosen = dialogs_.AskSaveFileName(&window_, suffix, QtNameFilters(filter));
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void QtPlatform::ShowPicture(const RgbBitmap& picture) {
  if (picture.width <= 0 || picture.height <= 0) return;
  if (picture.pixels.size() < static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3) return;
  const QImage rows(picture.pixels.data(), picture.width, picture.height, picture.width * 3, QImage::Format_RGB888);
  pictureView_.SetPicture(rows.copy());  // the bitmap is released after this call
}

}  // namespace mendrake
