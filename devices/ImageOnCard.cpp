#include "devices/ImageOnCard.h"

#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "files/FileIo.h"
#include "devices/OutputOnCard.h"

#include <optional>

namespace mendrake {

void RefuseImageOnCard(const std::string& source, const std::string& imagePath) {
  const std::size_t nameAt = FileNameStart(imagePath);
  const std::string folder = nameAt == 0 ? std::string(".") : imagePath.substr(0, nameAt);
  std::optional<std::string> device = OutputFolderOnCard(source, folder);
  if (!device && NameTheSameFile(source, imagePath)) device = source;
  if (device) {
    throw FileError(imagePath, kImageOnCardMessage,
                    "The image is on " + EscapeControlBytes(*device) + ", which belongs to \"" +
                        EscapeControlBytes(source) + "\".");
  }
}

}  // namespace mendrake
