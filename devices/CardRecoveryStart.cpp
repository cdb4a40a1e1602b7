#include "devices/CardRecoveryStart.h"

#include "devices/OutputOnCard.h"
#include "files/FileError.h"
#include "files/Utf8Path.h"

#include <filesystem>
#include <system_error>

namespace mendrake {

std::unique_ptr<DeviceReader> StartCardRecovery(const std::string& source, const std::string& outputFolder,
                                                const CardOpener& open) {
  RefuseOutputOnCard(source, outputFolder);
  std::unique_ptr<DeviceReader> card = open ? open(source) : std::make_unique<DeviceReader>(source);
  std::error_code error;
  const std::filesystem::path folder = PathFromUtf8(outputFolder);
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    throw FileError(outputFolder, "cannot be used as the output folder: " + (error ? error.message() : "not a folder"));
  }
  return card;
}

}  // namespace mendrake
