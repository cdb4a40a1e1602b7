#include "files/FileError.h"
#include "analysis/FileImage.h"
#include "files/FileIo.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace mendrake::testing {
namespace {

Bytes Digits() { return Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}; }

void AssignBytes(FileImage& image, const Bytes& bytes) {
  image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

Bytes Content(const FileImage& image) { return Bytes(image.Data(), image.Data() + image.Size()); }

std::string Text(const FileImage& image) { return std::string(image.Data(), image.Data() + image.Size()); }

// The FileError of a call, or a failure when it raised none.
template <typename Call>
FileError ErrorOf(Call call) {
  try {
    call();
  } catch (const FileError& error) {
    return error;
  }
  ADD_FAILURE() << "no FileError was raised";
  return FileError("", "");
}

// ---------------------------------------------------------------- reading

TEST(FileImageRead, ReadsWhatRemainsAndAdvancesByWhatWasRead) {
  FileImage image;
  AssignBytes(image, Digits());
  image.SetPosition(7);
  char buffer[5] = {};
  EXPECT_EQ(image.Read(buffer, 5), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(image.Position(), 10);

  EXPECT_EQ(image.Read(buffer, 5), 0);
  EXPECT_EQ(image.Position(), 10);
}

TEST(FileImageRead, PositionPastTheEndIsAllowedAndReadsNothing) {
  FileImage image;
  AssignBytes(image, Digits());
  image.SetPosition(1000);
  EXPECT_EQ(image.Position(), 1000);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(image.Read(buffer, 4), 0);
  EXPECT_EQ(image.Position(), 1000);
  EXPECT_EQ(buffer[0], 'x');
}

TEST(FileImageRead, WholeReadInsideTheImage) {
  FileImage image;
  AssignBytes(image, Digits());
  image.SetPosition(2);
  char buffer[4] = {};
  EXPECT_EQ(image.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "2345");
  EXPECT_EQ(image.Position(), 6);
}

// ---------------------------------------------------------------- 2 GiB range

TEST(FileImageRange, PositionsUpToTheSigned32BitLimitAreAccepted) {
  FileImage image;
  image.SetPosition(FileImage::kMaxSize);
  EXPECT_EQ(image.Position(), FileImage::kMaxSize);
  char byte = 0;
  EXPECT_EQ(image.Read(&byte, 1), 0);
}

TEST(FileImageRange, PositionOutsideTheRangeFailsAndKeepsThePosition) {
  FileImage image;
  AssignBytes(image, Digits());
  image.SetPosition(3);
  EXPECT_THROW(image.SetPosition(FileImage::kMaxSize + 1), std::out_of_range);
  EXPECT_THROW(image.SetPosition(std::int64_t{1} << 32), std::out_of_range);
  EXPECT_THROW(image.SetPosition(-1), std::out_of_range);
  EXPECT_EQ(image.Position(), 3);
}

TEST(FileImageRange, SizeOutsideTheRangeFailsAndKeepsTheContent) {
  FileImage image;
  AssignBytes(image, Digits());
  EXPECT_THROW(image.SetSize(FileImage::kMaxSize + 1), std::out_of_range);
  EXPECT_THROW(image.SetSize(-1), std::out_of_range);
  EXPECT_EQ(Content(image), Digits());
}

TEST(FileImageRange, SettingTheSizeKeepsTheLeadingBytes) {
  FileImage image;
  AssignBytes(image, Digits());
  image.SetSize(4);
  EXPECT_EQ(Text(image), "0123");
  image.SetPosition(3);
  char buffer[4] = {};
  EXPECT_EQ(image.Read(buffer, 4), 1);
  EXPECT_EQ(buffer[0], '3');
}

// ---------------------------------------------------------------- copying

TEST(FileImageCopy, AppendsFromTheSourcePositionAndAdvancesIt) {
  FileImage target;
  AssignBytes(target, Bytes{'A', 'B'});
  FileImage source;
  AssignBytes(source, Digits());
  source.SetPosition(3);
  target.CopyFrom(source, 4, "source.crw");
  EXPECT_EQ(Text(target), "AB3456");
  EXPECT_EQ(source.Position(), 7);
  EXPECT_EQ(Text(source), "0123456789");
}

TEST(FileImageCopy, CopyingAllThatRemainsSucceeds) {
  FileImage target;
  FileImage source;
  AssignBytes(source, Digits());
  source.SetPosition(6);
  target.CopyFrom(source, 4, "source.crw");
  EXPECT_EQ(Text(target), "6789");
  target.CopyFrom(source, 0, "source.crw");
  EXPECT_EQ(Text(target), "6789");
}

TEST(FileImageCopy, FewerBytesThanAskedIsAReadErrorNamingTheSource) {
  FileImage target;
  AssignBytes(target, Bytes{'A'});
  FileImage source;
  AssignBytes(source, Digits());
  source.SetPosition(6);
  const FileError error = ErrorOf([&] { target.CopyFrom(source, 5, "/photos/IMG_0042.CRW"); });
  EXPECT_EQ(error.path(), "/photos/IMG_0042.CRW");
  EXPECT_NE(std::string(error.what()).find("/photos/IMG_0042.CRW"), std::string::npos) << error.what();
  EXPECT_EQ(Text(target), "A");
  EXPECT_EQ(source.Position(), 6);
}

TEST(FileImageCopy, SourcePositionPastTheEndIsAReadError) {
  FileImage target;
  FileImage source;
  AssignBytes(source, Digits());
  source.SetPosition(50);
  EXPECT_THROW(target.CopyFrom(source, 1, "source.crw"), FileError);
}

// ---------------------------------------------------------------- files

TEST(FileImageFiles, LoadingReplacesTheContentAndRewindsThePosition) {
  ScratchFolder dir;
  const std::string longer = dir.Write("longer.crw", Filler(100, 0x11));
  const std::string shorter = dir.Write("shorter.crw", Digits());
  FileImage image;
  image.LoadFromFile(longer);
  EXPECT_EQ(image.Size(), 100);
  image.SetPosition(50);
  image.LoadFromFile(shorter);
  EXPECT_EQ(Content(image), Digits());
  EXPECT_EQ(image.Position(), 0);
}

TEST(FileImageFiles, AnEmptyFileLoadsAsAnEmptyImage) {
  ScratchFolder dir;
  FileImage image;
  AssignBytes(image, Digits());
  image.LoadFromFile(dir.Write("empty.crw", {}));
  EXPECT_EQ(image.Size(), 0);
}

TEST(FileImageFiles, SavingCreatesOrReplacesWithTheWholeContentAndLeavesNoTemporaryFile) {
  ScratchFolder dir;
  const std::string path = dir.Write("out.crw", Filler(5000, 0x77));
  FileImage image;
  AssignBytes(image, Digits());
  image.SaveToFile(path);
  EXPECT_EQ(ReadFile(path), Digits());

  const std::string fresh = (dir / "fresh.crw");
  image.SaveToFile(fresh);
  EXPECT_EQ(ReadFile(fresh), Digits());

  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path().string())) {
    ++files;
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
  }
  EXPECT_EQ(files, 2);
}

TEST(FileImageFiles, AMissingFileIsAnErrorNamingThePathAndTheReason) {
  ScratchFolder dir;
  const std::string missing = (dir / "IMG_0042.CRW");
  FileImage image;
  const FileError error = ErrorOf([&] { image.LoadFromFile(missing); });
  EXPECT_EQ(error.path(), missing);
  const std::string message = error.what();
  EXPECT_NE(message.find(missing), std::string::npos) << message;
  EXPECT_NE(message.find(std::strerror(ENOENT)), std::string::npos) << message;
}

TEST(FileImageFiles, AFolderIsAnErrorNamingIt) {
  ScratchFolder dir;
  FileImage image;
  const FileError error = ErrorOf([&] { image.LoadFromFile(dir.path().string()); });
  EXPECT_EQ(error.path(), dir.path().string());
  EXPECT_NE(std::string(error.what()).find(dir.path().string()), std::string::npos) << error.what();
}

TEST(FileImageFiles, AnEmptyNameIsAnError) {
  FileImage image;
  EXPECT_THROW(image.LoadFromFile(""), FileError);
  EXPECT_THROW(image.SaveToFile(""), FileError);
}

TEST(FileImageFiles, AFileOf2GiBOrMoreIsRefusedBeforeReading) {
  ScratchFolder dir;
  const std::string path = (dir / "huge.crw");
  {
    std::ofstream create(path, std::ios::binary);
  }
  // Sparse: no disk space is used and the size check comes before any read.
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(FileImage::kMaxSize) + 1);
  FileImage image;
  const FileError error = ErrorOf([&] { image.LoadFromFile(path); });
  EXPECT_EQ(error.path(), path);
  EXPECT_NE(std::string(error.what()).find("2 GiB"), std::string::npos) << error.what();
}

TEST(FileImageFiles, SavingIntoAMissingFolderIsAnErrorNamingThePath) {
  ScratchFolder dir;
  const std::string path = (dir / "no-such-folder/out.crw");
  FileImage image;
  AssignBytes(image, Digits());
  const FileError error = ErrorOf([&] { image.SaveToFile(path); });
  EXPECT_EQ(error.path(), path);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FileImageFiles, AFailedSaveLeavesWhatHadTheNameAndNoPartialFile) {
  ScratchFolder dir;
  // A folder of that name cannot be replaced by a file, whoever runs the test.
  const std::string path = (dir / "taken");
  std::filesystem::create_directory(path);
  dir.Write("taken/inside.crw", Digits());
  FileImage image;
  AssignBytes(image, Filler(64, 1));
  EXPECT_THROW(image.SaveToFile(path), FileError);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(ReadFile((dir / "taken/inside.crw")), Digits());
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path().string())) ++entries;
  EXPECT_EQ(entries, 1);
}

// ---------------------------------------------------------------- placing new files

std::vector<std::string> Names(const ScratchFolder& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path().string())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PendingFiles : public ::testing::TestWithParam<PendingFile::Temporary> {
 protected:
  std::string Place(const std::string& path, const Bytes& bytes, bool replacing) {
    PendingFile file(path, GetParam());
    file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (!replacing) return file.CommitUnderFreeName();
    file.Commit();
    return path;
  }
  ScratchFolder dir;
};

TEST_P(PendingFiles, ReplaceOrTakeTheNextFreeNameAndLeaveNoTemporaryFile) {
  const std::string jpg = dir.Write("IMG_0042.jpg", Digits());
  EXPECT_EQ(Place(jpg, Filler(10, 1), false), dir / "IMG_0042 (2).jpg");
  EXPECT_EQ(Place(jpg, Filler(10, 2), false), dir / "IMG_0042 (3).jpg");
  EXPECT_EQ(Place(jpg, Filler(10, 1), false), dir / "IMG_0042 (2).jpg");  // the same bytes are there
  EXPECT_EQ(Place(jpg, Digits(), false), jpg);
  EXPECT_EQ(ReadFile(jpg), Digits());
  EXPECT_EQ(ReadFile(dir / "IMG_0042 (3).jpg"), Filler(10, 2));

  Place(jpg, Filler(3, 9), true);
  EXPECT_EQ(ReadFile(jpg), Filler(3, 9));
  const std::string fresh = dir / "scan";
  EXPECT_EQ(Place(fresh, Digits(), false), fresh);
  EXPECT_EQ(Place(fresh, Filler(1, 0), false), dir / "scan (2)");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"IMG_0042 (2).jpg", "IMG_0042 (3).jpg", "IMG_0042.jpg", "scan", "scan (2)"}));
}

TEST_P(PendingFiles, ANameOfTheLongestLegalLengthIsWritten) {
  const std::string longest = dir / std::string(251, 'n') + ".CRW";
  EXPECT_EQ(Place(longest, Digits(), true), longest);
  EXPECT_EQ(ReadFile(longest), Digits());
  // Its numbered name would be 259 bytes: an error, and the file there is kept.
  const FileError error = ErrorOf([&] { Place(longest, Filler(4, 4), false); });
  EXPECT_NE(std::string(error.what()).find(std::strerror(ENAMETOOLONG)), std::string::npos) << error.what();
  EXPECT_EQ(ReadFile(longest), Digits());
  EXPECT_EQ(Names(dir).size(), 1u);
}

TEST_P(PendingFiles, AFileNeverPlacedLeavesNothing) {
  {
    PendingFile file(dir / "out.crw", GetParam());
    file.Write(Digits().data(), 10);
  }
  EXPECT_TRUE(Names(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfTemporary, PendingFiles,
                         ::testing::Values(PendingFile::Temporary::kUnnamedWherePossible, PendingFile::Temporary::kNamed));

}  // namespace
}  // namespace mendrake::testing
