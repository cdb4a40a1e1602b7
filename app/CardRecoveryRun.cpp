#include "app/CardRecoveryRun.h"

#include "app/RecoveredFolder.h"
#include "app/UDisksClient.h"
#include "devices/CardRecoveryStart.h"
#include "devices/RootCommand.h"
#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "output/JpegDecoder.h"
#include "recovery/CardRecovery.h"
#include "recovery/ProgressLine.h"

#include <QCoreApplication>
#include <QFile>
#include <QProgressDialog>

#include <chrono>
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

RecoverySummary RunCardRecovery(QWidget* parent, const Dialogs::CardRecoveryChoice& choice, LogBox& log,
                                Platform& platform, const QDBusConnection& bus) {
  const QString& source = choice.source;
  const std::string sourcePath = QFile::encodeName(source).toStdString();
  const std::string folderPath = QFile::encodeName(choice.outputFolder).toStdString();
  const std::unique_ptr<DeviceReader> card = StartCardRecovery(
      sourcePath, folderPath, [&](const std::string& path) { return OpenCardForReading(path, folderPath, bus); });

  // The bar counts in thousandths, so cards past 2 GiB fit its int range.
  QProgressDialog progress(QStringLiteral("Recovering CRW files from %1").arg(source), QStringLiteral("Cancel"), 0,
                           1000, parent);
  progress.setObjectName(QStringLiteral("RecoveryProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setValue(0);
  const auto begun = std::chrono::steady_clock::now();
  const RecoveryProgressFn update = [&progress, &source, begun](const RecoveryProgress& done) {
    if (done.total > 0) progress.setValue(static_cast<int>(done.scanned * 1000 / done.total));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    progress.setLabelText(QStringLiteral("Recovering CRW files from %1\n%2")
                              .arg(source, QString::fromStdString(RecoveryProgressLine(done, seconds))));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  log.Clear();
  RecoveryOptions options;
  options.all = choice.all;
  // In the folder made above, which is not on the card.
  if (choice.saveImage) options.imagePath = CardImagePathIn(folderPath);
  const RecoverySummary summary = RecoverCard(*card, folderPath, log, update, options);
  progress.reset();
  if (!summary.lastThumbnail.empty()) ShowThumbnail(summary.lastThumbnail, platform);
  return summary;
}

}  // namespace mendrake
