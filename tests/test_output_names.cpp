#include "output/OutputNames.h"

#include <gtest/gtest.h>

namespace mendrake {
namespace {

constexpr PathStyle kWin = PathStyle::kWindows;
constexpr PathStyle kPosix = PathStyle::kPosix;

TEST(RepairedName, RepeatsTheExtensionAfterTheWholeFileName) {
  EXPECT_EQ(OutputNameForRepaired(R"(C:\Photos\IMG_0815.CRW)", kWin), R"(C:\Photos\IMG_0815.CRW_repaired.CRW)");
  EXPECT_EQ(OutputNameForRepaired("/photos/IMG_0815.CRW", kPosix), "/photos/IMG_0815.CRW_repaired.CRW");
  EXPECT_EQ(OutputNameForRepaired("/photos/a.b.crw", kPosix), "/photos/a.b.crw_repaired.crw");
  EXPECT_EQ(OutputNameForRepaired("IMG.crw", kPosix), "IMG.crw_repaired.crw");
}

TEST(RepairedName, WithoutExtensionOnlyAddsTheSuffix) {
  EXPECT_EQ(OutputNameForRepaired(R"(C:\Photos\scan)", kWin), R"(C:\Photos\scan_repaired)");
  EXPECT_EQ(OutputNameForRepaired("/photos/scan", kPosix), "/photos/scan_repaired");
  // The dot belongs to a folder, not to the file name.
  EXPECT_EQ(OutputNameForRepaired(R"(C:\Photos.old\scan)", kWin), R"(C:\Photos.old\scan_repaired)");
  EXPECT_EQ(OutputNameForRepaired("/photos.old/scan", kPosix), "/photos.old/scan_repaired");
  EXPECT_EQ(OutputNameForRepaired("", kPosix), "");
}

TEST(ThumbnailName, ReplacesTheExtensionAfterTheLastDot) {
  EXPECT_EQ(OutputNameForThumbnail(R"(C:\Photos\IMG_0815.CRW)", kWin), R"(C:\Photos\IMG_0815.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("/photos/IMG_0815.CRW", kPosix), "/photos/IMG_0815.jpg");
  EXPECT_EQ(OutputNameForThumbnail("/photos/a.b.crw", kPosix), "/photos/a.b.jpg");
  EXPECT_EQ(OutputNameForThumbnail("/photos/trailing.", kPosix), "/photos/trailing.jpg");
}

TEST(ThumbnailName, DotsInFoldersDoNotCount) {
  EXPECT_EQ(OutputNameForThumbnail(R"(C:\Photos.old\scan)", kWin), R"(C:\Photos.old\scan.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("/photos.old/scan", kPosix), "/photos.old/scan.jpg");
  // Windows takes either slash as a separator, and the drive colon.
  EXPECT_EQ(OutputNameForThumbnail("C:/Photos.old/scan", kWin), "C:/Photos.old/scan.jpg");
  EXPECT_EQ(OutputNameForThumbnail(R"(C:\Photos.old/sub\scan)", kWin), R"(C:\Photos.old/sub\scan.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("D:scan", kWin), "D:scan.jpg");
  // On POSIX a backslash is an ordinary character of a file name.
  EXPECT_EQ(OutputNameForThumbnail(R"(/photos/a.old\scan)", kPosix), R"(/photos/a.jpg)");
  EXPECT_EQ(OutputNameForThumbnail(R"(/photos/a.old\scan)", kWin), R"(/photos/a.old\scan.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("", kPosix), "");
}

TEST(ThumbnailName, JpegSourceInAnyCaseNamesItselfOrOnlyDiffersInCase) {
  EXPECT_EQ(OutputNameForThumbnail(R"(C:\Photos\shot.jpg)", kWin), R"(C:\Photos\shot.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("/photos/shot.jpg", kPosix), "/photos/shot.jpg");
  EXPECT_EQ(OutputNameForThumbnail(R"(C:\Photos\SHOT.JPG)", kWin), R"(C:\Photos\SHOT.jpg)");
  EXPECT_EQ(OutputNameForThumbnail("/photos/Shot.Jpg", kPosix), "/photos/Shot.jpg");
}

TEST(FileExtensionOf, TakesTheFileNamePartOnly) {
  EXPECT_EQ(FileExtension("/a.b/c", kPosix), "");
  EXPECT_EQ(FileExtension("/a.b/c.CRW", kPosix), ".CRW");
  EXPECT_EQ(FileExtension(R"(C:\a.b\c)", kWin), "");
  EXPECT_EQ(FileExtension(".hidden", kPosix), ".hidden");
}

}  // namespace
}  // namespace mendrake
