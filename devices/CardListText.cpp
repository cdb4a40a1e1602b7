// The list of attached cards as text, the same on every system.
#include "devices/AttachedCards.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace mendrake {

std::string DeviceSizeText(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) value /= 1024, ++unit;
  char text[32];
  // One decimal only where it says something: 1.9 GiB, but 15 GiB and 512 MiB.
  if (unit > 0 && value < 10 && value != static_cast<double>(static_cast<std::int64_t>(value))) {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  }
  return text;
}

std::string CardListText(const std::vector<AttachedCard>& cards) {
  std::vector<std::vector<std::string>> rows;
  for (const AttachedCard& card : cards) {
    std::string fileSystem = card.fileSystem;
    if (fileSystem.empty()) fileSystem = card.partitionTable.empty() ? "-" : card.partitionTable + " partitions";
    rows.push_back({card.path, DeviceSizeText(card.size), fileSystem, card.label.empty() ? "-" : card.label,
                    card.description.empty() ? "-" : card.description});
    if (!card.mountPoint.empty()) rows.back().push_back("mounted at " + card.mountPoint);
  }
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "  ";
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size(), ' ');
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace mendrake
