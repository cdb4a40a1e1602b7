#include "devices/DriveNames.h"

#include <cctype>

namespace mendrake {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr std::string_view kPhysicalDrive = "PhysicalDrive";

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

char DriveLetter(const std::string& name) {
  std::string_view rest = name;
  if (rest.starts_with(kDevicePrefix)) rest.remove_prefix(kDevicePrefix.size());
  if (rest.size() < 2 || !IsLetter(rest[0]) || rest[1] != ':') return 0;
  if (rest.size() > 3 || (rest.size() == 3 && rest[2] != '\\' && rest[2] != '/')) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
}

int PhysicalDriveNumber(const std::string& name) {
  std::string_view rest = name;
  if (!rest.starts_with(kDevicePrefix)) return -1;
  rest.remove_prefix(kDevicePrefix.size());
  if (rest.size() <= kPhysicalDrive.size() || rest.size() > kPhysicalDrive.size() + 3 ||
      !SameLetters(rest.substr(0, kPhysicalDrive.size()), kPhysicalDrive)) {
    return -1;
  }
  int number = 0;
  for (const char c : rest.substr(kPhysicalDrive.size())) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::optional<std::string> DriveDeviceName(const std::string& name) {
  if (const char letter = DriveLetter(name)) return std::string(kDevicePrefix) + letter + ":";
  if (const int number = PhysicalDriveNumber(name); number >= 0) {
    return std::string(kDevicePrefix) + std::string(kPhysicalDrive) + std::to_string(number);
  }
  return std::nullopt;
}

}  // namespace mendrake
