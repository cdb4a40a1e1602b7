// Windows drive names, read the same on every system: what the user types
// for a card ("E:") and what the system opens ("\\.\E:").
#include "devices/DriveNames.h"

#include <gtest/gtest.h>

namespace mendrake {
namespace {

TEST(DriveNames, LettersInEveryFormNameTheVolume) {
  for (const std::string name : {"E:", "e:", "E:\\", "e:/", "\\\\.\\E:", "\\\\.\\e:"}) {
    EXPECT_EQ(DriveLetter(name), 'E') << name;
    EXPECT_EQ(DriveDeviceName(name), std::optional<std::string>("\\\\.\\E:")) << name;
  }
}

TEST(DriveNames, PhysicalDrivesKeepTheirNumber) {
  EXPECT_EQ(PhysicalDriveNumber("\\\\.\\PhysicalDrive1"), 1);
  EXPECT_EQ(PhysicalDriveNumber("\\\\.\\physicaldrive12"), 12);
  EXPECT_EQ(DriveDeviceName("\\\\.\\physicaldrive12"), std::optional<std::string>("\\\\.\\PhysicalDrive12"));
  EXPECT_EQ(DriveLetter("\\\\.\\PhysicalDrive1"), 0);
}

TEST(DriveNames, FilesAndFoldersAreNoDrives) {
  for (const std::string name : {"", "E", "card.img", "E:card.img", "E:\\card.img", "/dev/sdb", "EE:", "1:",
                                 "\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDriveX", "\\\\.\\PhysicalDrive1234",
                                 "PhysicalDrive1", "\\\\?\\E:"}) {
    EXPECT_EQ(DriveDeviceName(name), std::nullopt) << name;
    EXPECT_EQ(DriveLetter(name), 0) << name;
    EXPECT_EQ(PhysicalDriveNumber(name), -1) << name;
  }
}

}  // namespace
}  // namespace mendrake
