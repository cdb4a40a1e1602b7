#pragma once

#include "analysis/LogBox.h"
#include "analysis/Platform.h"

#include <QString>

class QWidget;

namespace mendrake {

// Recovers the CRW files of a card image or device into folder (created when
// missing) behind a progress dialog whose Cancel stops the scan between files,
// so nothing half-written remains. Reports in log and shows the last thumbnail
// written through platform. With all, the files the card's FAT still lists are
// recovered too. Throws FileError when the card or folder cannot be used.
void RunCardRecovery(QWidget* parent, const QString& source, const QString& folder, LogBox& log, Platform& platform,
                     bool all = false);

}  // namespace mendrake
