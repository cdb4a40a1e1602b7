#include "app/RecoveredFolder.h"

#include "files/FileIo.h"
#include "files/Utf8Path.h"
#include "recovery/CardImageSaver.h"

#include <algorithm>
#include <filesystem>

namespace mendrake {

std::string DefaultRecoveredFolder(const std::string& picturesFolder, const std::string& cardName,
                                   const std::string& date) {
  std::string name = cardName.empty() ? "card" : cardName;
  std::replace(name.begin(), name.end(), '/', '_');
  std::string folder = picturesFolder;
  if (!folder.empty() && !folder.ends_with('/')) folder += '/';
  return folder + "Recovered from " + name + " " + date;
}

std::string CardImagePathIn(const std::string& folder) {
  const std::string first = folder + (folder.ends_with('/') ? "" : "/") + "card.img";
  const auto taken = [](const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(PathFromUtf8(path), error) ||
           std::filesystem::exists(PathFromUtf8(MapfileOf(path)), error);
  };
  std::string path = first;
  for (int n = 2; taken(path) && n <= kMaxFreeNameNumber; ++n) path = NumberedName(first, n);
  return path;
}

}  // namespace mendrake
