#pragma once

#include "devices/DeviceReader.h"

#include <functional>
#include <memory>
#include <string>

namespace mendrake {

// Opens a card for reading; throws CardAccessDenied or FileError.
using CardOpener = std::function<std::unique_ptr<DeviceReader>(const std::string& source)>;

// Where every recovery begins, from crwlog as from the window. First the
// output folder is refused when it lies on the card, before anything is read
// or made; then the card is opened (by open, or as a DeviceReader), so that a
// card that cannot be read leaves no new empty folder; then the folder is
// made. Returns the open card; throws CardAccessDenied or FileError, a folder
// that cannot be made or is no folder saying "cannot be used as the output
// folder".
std::unique_ptr<DeviceReader> StartCardRecovery(const std::string& source, const std::string& outputFolder,
                                                const CardOpener& open = {});

}  // namespace mendrake
