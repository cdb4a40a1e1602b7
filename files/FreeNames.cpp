#include "files/FreeNames.h"

namespace mendrake {

int FreeNames::Next(const std::string& path) const {
  const auto found = next_.find(path);
  return found == next_.end() ? 1 : found->second;
}

void FreeNames::Took(const std::string& path, int n) {
  int& next = next_.try_emplace(path, 1).first->second;
  if (n + 1 > next) next = n + 1;
}

std::string FreeNames::Place(PendingFile& file, const std::string& path) {
  for (int n = Next(path); n <= kMaxFreeNameNumber; ++n) {
    const std::string name = NumberedName(path, n);
    const bool placed = file.CommitWithoutReplacing(name);
    Took(path, n);
    if (placed) return name;
  }
  return {};
}

}  // namespace mendrake
