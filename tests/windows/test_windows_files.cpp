// The file layer on Windows: UTF-8 names through the wide calls, long paths,
// placing without replacing, identities, files past 4 GiB and card images
// read past 2 and 4 GiB.
#include "analysis/FileImage.h"
#include "devices/DeviceReader.h"
#include "files/FileError.h"
#include "files/FileIo.h"
#include "files/LargeBuffer.h"
#include "files/WideText.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <filesystem>
#include <vector>

namespace mendrake {
namespace {

using testing::Bytes;
using testing::ScratchFolder;

// "Fotos_Köln_東京" in UTF-8: letters outside every single-byte code page.
const std::string kForeignName = "Fotos_K\xC3\xB6ln_\xE6\x9D\xB1\xE4\xBA\xAC";

void WriteBytes(const std::string& path, const Bytes& bytes) {
  PendingFile file(path);
  file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  file.Commit();
}

Bytes ReadBytes(const std::string& path) {
  OpenSource source = OpenForReading(path);
  Bytes bytes(static_cast<std::size_t>(source.size));
  ReadAll(source.file.get(), bytes.data(), source.size, path);
  return bytes;
}

bool ExistsWide(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file of this size that takes no room: the file system leaves the unwritten
// part out where it can, and reads it as zeros.
void MakeLargeFile(const std::string& path, std::int64_t size, std::int64_t markAt, const Bytes& mark) {
  const HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER at{};
  at.QuadPart = markAt;
  ASSERT_TRUE(::SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file, mark.data(), static_cast<DWORD>(mark.size()), &written, nullptr));
  at.QuadPart = size;
  ASSERT_TRUE(::SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  ASSERT_TRUE(::SetEndOfFile(file));
  ::CloseHandle(file);
}

// Removes a tree by long names (the C++ library's remove_all cannot) and
// counts what it removed.
int RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ::DeleteFileW(path.c_str()) ? 1 : 0;
  int removed = 0;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") removed += RemoveTree(path + L"\\" + name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  return removed + (::RemoveDirectoryW(path.c_str()) ? 1 : 0);
}

TEST(WideText, RoundTripsNamesOutsideTheCodePage) {
  const std::wstring wide = WideFromUtf8(kForeignName);
  EXPECT_EQ(wide, L"Fotos_K\u00F6ln_\u6771\u4EAC");
  EXPECT_EQ(Utf8FromWide(wide), kForeignName);
  // A stray byte is kept as a replacement character, not dropped with the rest.
  EXPECT_EQ(WideFromUtf8("a\xFF" "b"), L"a\uFFFDb");
}

TEST(WideText, LongPathIsFullAndPrefixed) {
  EXPECT_EQ(LongPath("C:/photos/IMG_0042.CRW"), L"\\\\?\\C:\\photos\\IMG_0042.CRW");
  EXPECT_EQ(LongPath("\\\\server\\share\\a.crw"), L"\\\\?\\UNC\\server\\share\\a.crw");
  EXPECT_EQ(LongPath("\\\\.\\E:"), L"\\\\.\\E:");
  EXPECT_EQ(LongPath("\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
}

TEST(WindowsFiles, NonAsciiNameIsWrittenAndReadUnderItsOwnName) {
  ScratchFolder folder;
  const std::string path = folder / (kForeignName + ".CRW");
  WriteBytes(path, {1, 2, 3});
  // The name on disk is the wide one, not the UTF-8 bytes read as ANSI.
  EXPECT_TRUE(ExistsWide(WideFromUtf8(path)));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{kForeignName + ".CRW"});
  EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
}

TEST(WindowsFiles, PathsPastTheOldLimitOf260Characters) {
  ScratchFolder folder;
  // The scratch folder's own clean-up goes by short names: this tree goes by long ones.
  const std::wstring tree = LongPath(folder / std::string(60, 'a'));
  RemoveTree(tree);
  std::string deep = folder.path().string();
  for (int i = 0; i < 6; ++i) {
    deep += "\\" + std::string(60, static_cast<char>('a' + i));
    ASSERT_TRUE(::CreateDirectoryW(LongPath(deep).c_str(), nullptr));
  }
  const std::string path = deep + "\\IMG_0042.CRW";
  ASSERT_GT(path.size(), 360u);
  WriteBytes(path, {7, 8, 9});
  EXPECT_EQ(ReadBytes(path), (Bytes{7, 8, 9}));
  PendingFile second(path);
  second.Write(Bytes{4}.data(), 1);
  EXPECT_EQ(second.CommitUnderFreeName(), deep + "\\IMG_0042 (2).CRW");
  EXPECT_EQ(RemoveTree(tree), 8);  // six folders, two files
}

TEST(WindowsFiles, PlacingNeverReplacesAFileOfOtherContent) {
  ScratchFolder folder;
  const std::string taken = folder.Write("IMG_0042.JPG", {1, 1, 1});
  // Letter case does not make another name on Windows file systems.
  PendingFile file(folder / "IMG_0042.jpg");
  file.Write(Bytes{2, 2}.data(), 2);
  EXPECT_FALSE(file.CommitWithoutReplacing(folder / "IMG_0042.jpg"));
  EXPECT_EQ(file.CommitUnderFreeName(), folder / "IMG_0042 (2).jpg");
  EXPECT_EQ(ReadBytes(taken), (Bytes{1, 1, 1}));
  EXPECT_EQ(ReadBytes(folder / "IMG_0042 (2).jpg"), (Bytes{2, 2}));
  // Nothing of the temporary file is left.
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"IMG_0042 (2).jpg", "IMG_0042.JPG"}));
}

TEST(WindowsFiles, TheSameBytesAlreadyThereAreKept) {
  ScratchFolder folder;
  folder.Write("a.jpg", {5, 6});
  PendingFile file(folder / "a.jpg");
  file.Write(Bytes{5, 6}.data(), 2);
  EXPECT_TRUE(file.CommitWithoutReplacing(folder / "a.jpg"));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.jpg"});
}

TEST(WindowsFiles, AFolderOfTheNameIsATakenName) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.path() / "a.jpg");
  PendingFile file(folder / "a.jpg");
  file.Write(Bytes{1}.data(), 1);
  EXPECT_FALSE(file.CommitWithoutReplacing(folder / "a.jpg"));
  EXPECT_EQ(file.CommitUnderFreeName(), folder / "a (2).jpg");
}

TEST(WindowsFiles, CommitReplacesAndAFileNotCommittedLeavesNothing) {
  ScratchFolder folder;
  folder.Write("out.ppm", {1});
  WriteBytes(folder / "out.ppm", {2, 3});
  EXPECT_EQ(ReadBytes(folder / "out.ppm"), (Bytes{2, 3}));
  {
    PendingFile abandoned(folder / "other.ppm");
    abandoned.Write(Bytes{9}.data(), 1);
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.ppm"});
}

TEST(WindowsFiles, IdentityTellsFilesApartAndSeesARewrite) {
  ScratchFolder folder;
  const std::string first = folder.Write("a.crw", {1, 2});
  const std::string second = folder.Write("b.crw", {1, 2});
  const FileIdentity a = OpenForReading(first).identity;
  const FileIdentity b = OpenForReading(second).identity;
  EXPECT_EQ(a.device, b.device);
  EXPECT_NE(a.inode, b.inode);
  EXPECT_EQ(a.size, 2);
  EXPECT_EQ(OpenForReading(first).identity, a);
  // Rewritten in place at the same size, with a later time.
  const HANDLE file = ::CreateFileW(LongPath(first).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME later{};
  const std::int64_t when = (std::int64_t{a.modifiedSeconds} + 60) * 10000000 + 116444736000000000;
  later.dwLowDateTime = static_cast<DWORD>(when);
  later.dwHighDateTime = static_cast<DWORD>(when >> 32);
  ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &later));
  ::CloseHandle(file);
  const FileIdentity touched = OpenForReading(first).identity;
  EXPECT_EQ(touched.inode, a.inode);
  EXPECT_EQ(touched.modifiedSeconds, a.modifiedSeconds + 60);
  EXPECT_NE(touched, a);
}

TEST(WindowsFiles, SameFileThroughLetterCaseAndSlashes) {
  ScratchFolder folder;
  const std::string path = folder.Write("IMG_0042.CRW", {1});
  EXPECT_TRUE(NameTheSameFile(path, folder / "img_0042.crw"));
  std::string slashed = path;
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  EXPECT_TRUE(NameTheSameFile(path, slashed));
  EXPECT_FALSE(NameTheSameFile(path, folder.Write("other.crw", {1})));
  EXPECT_FALSE(NameTheSameFile(path, folder / "missing.crw"));
}

TEST(WindowsFiles, NamesAreFreeOrHoldTheBytes) {
  ScratchFolder folder;
  folder.Write("a.jpg", {1, 2});
  const Bytes same{1, 2};
  const Bytes other{1, 3};
  EXPECT_TRUE(NameIsFreeOrHolds(folder / "b.jpg", other.data(), 2));
  EXPECT_TRUE(NameIsFreeOrHolds(folder / "A.JPG", same.data(), 2));
  EXPECT_FALSE(NameIsFreeOrHolds(folder / "a.jpg", other.data(), 2));
  EXPECT_EQ(FileNameStart("C:\\x.y\\scan"), 7u);
  EXPECT_EQ(NumberedName("C:\\x.y\\scan", 2), "C:\\x.y\\scan (2)");
  EXPECT_EQ(NumberedName("C:IMG.CRW", 3), "C:IMG (3).CRW");
}

TEST(WindowsFiles, FoldersAndMissingFilesAreNamedInTheError) {
  ScratchFolder folder;
  try {
    OpenForReading(folder.path().string());
    FAIL() << "a folder was opened as a file";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), "this is a folder, not a file");
  }
  EXPECT_THROW(OpenForReading(folder / "missing.crw"), FileError);
}

TEST(WindowsFiles, AFilePast4GiBIsRefusedByItsTrueSize) {
  ScratchFolder folder;
  // 4 GiB and 16 bytes: a size that, cut to 32 bits, would look like 16.
  const std::string path = folder / "huge.crw";
  MakeLargeFile(path, (std::int64_t{4} << 30) + 16, 0, {'I', 'I'});
  try {
    OpenForReading(path);
    FAIL() << "a file past 4 GiB was opened";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), "the file is 2 GiB or larger, which is more than Mendrake can hold");
  }
}

TEST(WindowsFiles, ACardImagePast4GiBIsReadAtItsEnd) {
  ScratchFolder folder;
  const std::string path = folder / "card.img";
  const std::int64_t size = (std::int64_t{4} << 30) + 8192;
  const std::int64_t markAt = (std::int64_t{4} << 30) + 4096;
  MakeLargeFile(path, size, markAt, {'H', 'E', 'A', 'P'});
  DeviceReader card(path);
  EXPECT_EQ(card.Size(), size);
  std::uint8_t bytes[8] = {};
  EXPECT_EQ(card.ReadAt(markAt - 2, bytes, 8), 8);
  EXPECT_EQ(Bytes(bytes, bytes + 8), (Bytes{0, 0, 'H', 'E', 'A', 'P', 0, 0}));
  // Short only at the end.
  EXPECT_EQ(card.ReadAt(size - 3, bytes, 8), 3);
  EXPECT_EQ(card.ReadAt(size, bytes, 8), 0);
}

TEST(WindowsFiles, LargeBuffersAreWritableAndGivenBack) {
  const std::size_t bytes = std::size_t{5} << 20;
  ASSERT_TRUE(IsLargeBuffer(bytes));
  std::uint8_t* buffer = MapLargeBuffer(bytes);
  ASSERT_NE(buffer, nullptr);
  buffer[0] = 1;
  buffer[bytes - 1] = 2;
  EXPECT_EQ(buffer[0] + buffer[bytes - 1], 3);
  UnmapLargeBuffer(buffer, bytes);
  std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>> image(bytes, 7);
  EXPECT_EQ(image[bytes / 2], 7);
}

TEST(WindowsFiles, AFileImageLoadsUnderANonAsciiName) {
  ScratchFolder folder;
  const std::string path = folder.Write(kForeignName + ".crw", Bytes(300000, 0x5A));
  FileImage image;
  image.LoadFromFile(path);
  EXPECT_EQ(image.Size(), 300000);
}

}  // namespace
}  // namespace mendrake
