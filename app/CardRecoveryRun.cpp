#include "app/CardRecoveryRun.h"

#include "app/UDisksClient.h"
#include "devices/CardRecoveryStart.h"
#include "devices/RootCommand.h"
#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "output/JpegDecoder.h"
#include "recovery/CardRecovery.h"

#include <QCoreApplication>
#include <QFile>
#include <QProgressDialog>

#include <fstream>
#include <iterator>
#include <vector>

namespace mendrake {
namespace {

void ShowThumbnail(const std::string& path, Platform& platform) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  RgbBitmap picture;
  if (DecodeJpeg(bytes, picture)) platform.ShowPicture(picture);
}

}  // namespace

std::unique_ptr<DeviceReader> OpenCardForReading(const std::string& source, const std::string& outputFolder,
                                                 const QDBusConnection& bus) {
  try {
    return std::make_unique<DeviceReader>(source);
  } catch (const CardAccessDenied& denied) {
    std::string why;
    const int fd = OpenThroughUDisks(source, bus, why);
    if (fd < 0) {
      throw FileError(source, denied.reason() + ", and " + why,
                      "To recover it, run as root: " + EscapeControlBytes(RecoverAsRootCommand(source, outputFolder)));
    }
    return std::make_unique<DeviceReader>(fd, source);
  }
}

RecoverySummary RunCardRecovery(QWidget* parent, const QString& source, const QString& folder, LogBox& log,
                                Platform& platform, bool all, const QDBusConnection& bus) {
  const std::string sourcePath = QFile::encodeName(source).toStdString();
  const std::string folderPath = QFile::encodeName(folder).toStdString();
  const std::unique_ptr<DeviceReader> card = StartCardRecovery(
      sourcePath, folderPath, [&](const std::string& path) { return OpenCardForReading(path, folderPath, bus); });

  // The bar counts in thousandths, so cards past 2 GiB fit its int range.
  QProgressDialog progress(QStringLiteral("Recovering CRW files from %1").arg(source), QStringLiteral("Cancel"), 0,
                           1000, parent);
  progress.setObjectName(QStringLiteral("RecoveryProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setValue(0);
  const RecoveryProgressFn update = [&progress](const RecoveryProgress& done) {
    if (done.total > 0) progress.setValue(static_cast<int>(done.scanned * 1000 / done.total));
    progress.setLabelText(QStringLiteral("%1 of %2 MiB scanned, %3 files found")
                              .arg(done.scanned >> 20)
                              .arg(done.total >> 20)
                              .arg(done.filesFound));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  log.Clear();
  RecoveryOptions options;
  options.all = all;
  const RecoverySummary summary = RecoverCard(*card, folderPath, log, update, options);
  progress.reset();
  if (!summary.lastThumbnail.empty()) ShowThumbnail(summary.lastThumbnail, platform);
  return summary;
}

}  // namespace mendrake
