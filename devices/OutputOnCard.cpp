// What both systems' halves share: the refusal, around each one's judgement
// of where the folder lies.
#include "devices/OutputOnCard.h"

#include "files/ControlBytes.h"
#include "files/FileError.h"

namespace mendrake {

void RefuseOutputOnCard(const std::string& source, const std::string& outputFolder) {
  if (const std::optional<std::string> device = OutputFolderOnCard(source, outputFolder)) {
    throw FileError(outputFolder, kOutputOnCardMessage,
                    "The folder is on " + *device + ", which belongs to \"" + EscapeControlBytes(source) + "\".");
  }
}

}  // namespace mendrake
