#include "app/RecoveredFolder.h"

#include <algorithm>

namespace mendrake {

std::string DefaultRecoveredFolder(const std::string& picturesFolder, const std::string& cardName,
                                   const std::string& date) {
  std::string name = cardName.empty() ? "card" : cardName;
  std::replace(name.begin(), name.end(), '/', '_');
  std::string folder = picturesFolder;
  if (!folder.empty() && !folder.ends_with('/')) folder += '/';
  return folder + "Recovered from " + name + " " + date;
}

}  // namespace mendrake
