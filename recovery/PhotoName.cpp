#include "recovery/PhotoName.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace mendrake {
namespace {

// Camera names are eight characters and an extension; a longer record is
// read no further than a name of a FAT long entry can be.
constexpr std::size_t kMaxNameLength = 255;

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

bool AllowedInName(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte > 0x7E) return false;
  return std::string_view("<>:\"/\\|?*").find(c) == std::string_view::npos;
}

// Windows opens the device, not a file, for these names whatever their extension.
bool IsDeviceName(std::string_view stem) {
  static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  for (const std::string_view device : kDevices) {
    if (SameLetters(stem, device)) return true;
  }
  return stem.size() == 4 && (SameLetters(stem.substr(0, 3), "COM") || SameLetters(stem.substr(0, 3), "LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string CameraNameStem(std::string_view recorded, std::string_view extension) {
  if (recorded.size() > kMaxNameLength || recorded.size() <= extension.size()) return {};
  if (!SameLetters(recorded.substr(recorded.size() - extension.size()), extension)) return {};
  if (!std::all_of(recorded.begin(), recorded.end(), AllowedInName)) return {};
  const std::string_view stem = recorded.substr(0, recorded.size() - extension.size());
  // Windows drops dots and spaces at a name's end: "CRW_1. .CRW" would not be the name asked for.
  if (stem.front() == ' ' || stem.back() == ' ' || stem.back() == '.' || stem == "." || IsDeviceName(stem)) return {};
  return std::string(stem);
}

std::string PlaceStem(std::int64_t position) { return "CRW_at_" + std::to_string(position); }

std::string PhotoStem(const CrwRecords& records, const std::string& directoryName, std::int64_t position) {
  std::string stem = CameraNameStem(records.originalFileName, ".CRW");
  if (!stem.empty()) return stem;
  stem = CameraNameStem(directoryName, ".CRW");
  if (!stem.empty()) return stem;
  if (records.fileNumber != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%04u", records.fileNumber % 10000);
    return std::string("CRW_") + number;
  }
  return PlaceStem(position);
}

}  // namespace mendrake
