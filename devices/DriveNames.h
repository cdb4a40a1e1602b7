#pragma once

#include <optional>
#include <string>

namespace mendrake {

// Names of Windows drives as a user types them and as the system opens them.
// Pure text, so it is the same (and tested) on every system.

// The device name of a drive: "E:", "e:\" and "\\.\E:" give "\\.\E:";
// "\\.\PhysicalDrive1" is kept. Nothing for any other name (a file).
std::optional<std::string> DriveDeviceName(const std::string& name);

// The letter of a drive name ("E:", "\\.\E:", "E:\"), upper case; 0 for
// other names.
char DriveLetter(const std::string& name);

// The number of a physical drive ("\\.\PhysicalDrive1" gives 1); -1 for
// other names.
int PhysicalDriveNumber(const std::string& name);

}  // namespace mendrake
