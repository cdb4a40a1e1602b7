#pragma once

#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "app/Dialogs.h"
#include "devices/DeviceReader.h"
#include "recovery/CardRecovery.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <string>

class QWidget;

namespace mendrake {

// Opens the card for reading: directly where this user may read it, and
// where not (block devices belong to root) through udisks2 on bus, whose
// polkit agent asks the user's password once. Throws FileError saying what
// failed and the command that works, as root, when neither opens it.
std::unique_ptr<DeviceReader> OpenCardForReading(const std::string& source, const std::string& outputFolder,
                                                 const QDBusConnection& bus);

// Recovers the CRW files of a card image or device into folder (created when
// missing) behind a progress dialog whose Cancel stops the scan between files,
// so nothing half-written remains; the progress says what was read, the
// pace and the time left. A folder on the card itself is refused before
// anything is read or made. Reports in log, shows the last thumbnail written
// through platform, and returns what was written. With choice.all, the files
// the card's FAT still lists are recovered too; with choice.saveImage, every
// byte read is kept in an image in the folder (CardImagePathIn). Throws
// FileError when the card, the folder or the image cannot be used.
RecoverySummary RunCardRecovery(QWidget* parent, const Dialogs::CardRecoveryChoice& choice, LogBox& log,
                                Platform& platform, const QDBusConnection& bus = QDBusConnection::systemBus());

}  // namespace mendrake
