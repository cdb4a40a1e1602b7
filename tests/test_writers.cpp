#include "files/FileError.h"
#include "output/Writers.h"
#include "repair/SaveCommands.h"
#include "tests/support/RunFixture.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

const char* const kCrwFilter = "Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*";
const char* const kJpegFilter = "JPEG Files (*.jpg)|*.jpg|All Files (*.*)|*.*";

using Writers = RunFixture;

TEST_F(Writers, AutomaticModeWritesTheCutCopyAndTheThumbnailBesideTheSource) {
  const Source source = AnalyseCameraFile("IMG_0001.CRW", 1000);
  WriteRepaired(context, source.path, true);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);

  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0001.CRW_repaired.CRW", "IMG_0001.jpg"}));
  const Bytes repaired = ReadFile(folder / "IMG_0001.CRW_repaired.CRW");
  EXPECT_EQ(repaired.size() + 1000, source.bytes.size());
  EXPECT_EQ(repaired, Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(ReadFile(folder / "IMG_0001.jpg"), source.thumbnail);
  EXPECT_TRUE(platform.dialogs.empty());

  // Outputs of an earlier run, the same bytes, are found as they are.
  const std::size_t lines = log.Lines().size();
  WriteRepaired(context, source.path, true);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0001.CRW_repaired.CRW", "IMG_0001.jpg"}));
  EXPECT_EQ(log.Lines().size(), lines);
}

TEST_F(Writers, InteractiveModeAsksWithItsFilterAndDerivesTheRepairedName) {
  const Source source = AnalyseCameraFile("in.crw");
  platform.answers = {folder / "chosen.CRW", folder / "picture.jpeg"};
  WriteRepaired(context, source.path, false);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false);

  ASSERT_EQ(platform.dialogs.size(), 2u);
  EXPECT_EQ(platform.dialogs[0].defaultExtension, ".crw");
  EXPECT_EQ(platform.dialogs[0].filter, kCrwFilter);
  EXPECT_EQ(platform.dialogs[1].defaultExtension, ".jpg");
  EXPECT_EQ(platform.dialogs[1].filter, kJpegFilter);
  // The chosen name itself is never written for the repaired copy; the thumbnail's is used unchanged.
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"chosen.CRW_repaired.CRW", "in.crw", "picture.jpeg"}));
  EXPECT_EQ(ReadFile(folder / "chosen.CRW_repaired.CRW"), Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(ReadFile(folder / "picture.jpeg"), source.thumbnail);
}

TEST_F(Writers, AutomaticModeWritesBesideAnOtherFileOfTheNameAndSaysSo) {
  const Source source = AnalyseCameraFile("IMG_0042.CRW");
  // The camera's own JPEG, and an earlier "(2)" output left by another program.
  WriteFile(folder / "IMG_0042.jpg", Bytes(3, 0x22));
  WriteFile(folder / "IMG_0042.CRW_repaired.CRW", Bytes(50000, 0x11));
  WriteFile(folder / "IMG_0042.CRW_repaired (2).CRW", Bytes(7, 0x33));
  WriteRepaired(context, source.path, true);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);

  EXPECT_EQ(ReadFile(folder / "IMG_0042.jpg"), Bytes(3, 0x22));
  EXPECT_EQ(ReadFile(folder / "IMG_0042 (2).jpg"), source.thumbnail);
  EXPECT_EQ(ReadFile(folder / "IMG_0042.CRW_repaired (3).CRW"), Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(log.Lines().back(), "IMG_0042.jpg exists; the thumbnail was written as IMG_0042 (2).jpg");
  EXPECT_TRUE(Logged("IMG_0042.CRW_repaired.CRW exists; the repaired file was written as "
                     "IMG_0042.CRW_repaired (3).CRW"));

  // A second run finds its own outputs, byte for byte, and adds no third.
  const std::vector<std::string> before = folder.Entries();
  WriteRepaired(context, source.path, true);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);
  EXPECT_EQ(folder.Entries(), before);
  EXPECT_EQ(log.Lines().back(), "IMG_0042.jpg exists; the thumbnail was written as IMG_0042 (2).jpg");
}

TEST_F(Writers, InteractiveModeReplacesTheChosenFile) {
  const Source source = AnalyseCameraFile("a.crw");
  WriteFile(folder / "a.crw_repaired.crw", Bytes(50000, 0x11));
  WriteFile(folder / "a.jpg", Bytes(3, 0x22));
  platform.answers = {folder / "a.crw", folder / "a.jpg"};
  WriteRepaired(context, source.path, false);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false);
  EXPECT_EQ(ReadFile(folder / "a.crw_repaired.crw"), Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(ReadFile(folder / "a.jpg"), source.thumbnail);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "a.crw_repaired.crw", "a.jpg"}));
}

TEST_F(Writers, AnOutputNamedAtTheLongestLegalNameIsWritten) {
  // 235 bytes of source name give a 252-byte "_repaired" name; 255 is the limit.
  const std::string stem(238, 'n');
  const Source source = AnalyseCameraFile(stem + ".crw");
  WriteRepaired(context, source.path, true);
  const std::string repaired = stem + ".crw_repaired.crw";
  ASSERT_EQ(repaired.size(), 255u);
  EXPECT_EQ(ReadFile(folder / repaired), Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(folder.Entries().size(), 2u);
}

TEST_F(Writers, CancelledDialogWritesNothing) {
  const Source source = AnalyseCameraFile("a.crw");
  platform.answers = {std::nullopt, std::nullopt};
  WriteRepaired(context, source.path, false);
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false);
  EXPECT_EQ(platform.dialogs.size(), 2u);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.crw"});
}

TEST_F(Writers, NoSizeOrNoThumbnailMeansNoDialogAndNoFile) {
  const Source source = AnalyseCameraFile("a.crw");
  state.FFilesize = 0;
  WriteRepaired(context, source.path, false);
  WriteRepaired(context, source.path, true);
  WriteThumbnail(context, source.path, 0, 100, false);
  WriteThumbnail(context, source.path, 100, 0, true);
  EXPECT_TRUE(platform.dialogs.empty());
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.crw"});
}

TEST_F(Writers, ThumbnailClaimingMoreBytesThanTheFileHoldsFailsAndWritesNothing) {
  const Source source = AnalyseCameraFile("a.crw");
  const auto size = static_cast<std::uint32_t>(source.bytes.size());
  for (const auto& [start, length] : {std::pair{size - 10, 11u}, std::pair{size + 5, 1u}, std::pair{0x90000000u, 4u}}) {
    try {
      WriteThumbnail(context, source.path, start, length, true);
      ADD_FAILURE() << "no error for " << length << " bytes at " << start;
    } catch (const FileError& error) {
      EXPECT_EQ(error.path(), source.path);
    }
  }
  // The last byte of the file is still within reach.
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.crw"});
  WriteThumbnail(context, source.path, size - 10, 10, true);
  EXPECT_EQ(ReadFile(folder / "a.jpg"), Bytes(source.bytes.end() - 10, source.bytes.end()));
}

TEST_F(Writers, SourceThatCannotBeReadFailsBeforeTheDialog) {
  const Source source = AnalyseCameraFile("a.crw");
  fs::remove(source.path);
  EXPECT_THROW(WriteRepaired(context, source.path, false), FileError);
  EXPECT_TRUE(platform.dialogs.empty());
  platform.answers = {folder / "t.jpg"};
  EXPECT_THROW(WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false), FileError);
  EXPECT_TRUE(folder.Entries().empty());
}

TEST_F(Writers, SourceShorterThanTheFoundSizeFailsInsteadOfPadding) {
  const Source source = AnalyseCameraFile("a.crw");
  fs::resize_file(source.path, source.trueSize - 1);
  EXPECT_THROW(WriteRepaired(context, source.path, true), FileError);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.crw"});
}

TEST_F(Writers, RepairedNameLeadingBackToTheSourceIsSkipped) {
  const Source source = AnalyseCameraFile("a.crw_repaired.crw");
  platform.answers = {folder / "a.crw"};
  WriteRepaired(context, source.path, false);
  EXPECT_TRUE(Logged("Skipped writing " + source.path + ": it is the source file itself."));
  EXPECT_EQ(ReadFile(source.path), source.bytes);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.crw_repaired.crw"});

  // Another spelling of the same file is the same file.
  fs::create_directory(folder / "sub");
  platform.answers = {folder / "sub/../a.crw"};
  WriteRepaired(context, source.path, false);
  EXPECT_EQ(ReadFile(source.path), source.bytes);
}

TEST_F(Writers, ThumbnailNameLeadingBackToTheSourceIsSkipped) {
  const Source source = AnalyseCameraFile("shot.jpg");
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);
  platform.answers = {source.path};
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false);
  EXPECT_EQ(std::count(log.Lines().begin(), log.Lines().end(),
                       "Skipped writing " + source.path + ": it is the source file itself."),
            2);
  EXPECT_EQ(ReadFile(source.path), source.bytes);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"shot.jpg"});
}

TEST_F(Writers, UpperCaseJpegSourceIsSkippedWhereCaseNamesTheSameFile) {
  const Source source = AnalyseCameraFile("SHOT.JPG");
  // On this file system SHOT.jpg is another file, and gets the thumbnail.
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);
  EXPECT_EQ(ReadFile(folder / "SHOT.jpg"), source.thumbnail);
  EXPECT_EQ(ReadFile(source.path), source.bytes);

  // Where letter case does not count, both names lead to the source: a link stands in for that.
  fs::remove(folder / "SHOT.jpg");
  fs::create_symlink(source.path, folder / "SHOT.jpg");
  WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true);
  EXPECT_TRUE(Logged("Skipped writing " + (folder / "SHOT.jpg") + ": it is the source file itself."));
  EXPECT_EQ(ReadFile(source.path), source.bytes);
  EXPECT_TRUE(fs::is_symlink(folder / "SHOT.jpg"));
}

// Lets files of this process grow to a given size only, like a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST_F(Writers, WriteFailingPartWayLeavesTheExistingFileIntactAndNoPartialFile) {
  const Source source = AnalyseCameraFile("a.crw");
  const Bytes earlier(100, 0x33);
  WriteFile(folder / "a.crw_repaired.crw", earlier);
  WriteFile(folder / "a.jpg", earlier);
  {
    const FileSizeLimit limit(source.trueSize / 2);
    try {
      WriteRepaired(context, source.path, true);
      ADD_FAILURE() << "the write did not fail";
    } catch (const FileError& error) {
      EXPECT_EQ(error.path(), folder / "a.crw_repaired.crw");
    }
    // The same for the thumbnail, through a limit below its size.
    const FileSizeLimit tighter(state.JPEGSize / 2);
    EXPECT_THROW(WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, true), FileError);
  }
  EXPECT_EQ(ReadFile(folder / "a.crw_repaired.crw"), earlier);
  EXPECT_EQ(ReadFile(folder / "a.jpg"), earlier);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "a.crw_repaired.crw", "a.jpg"}));
}

TEST_F(Writers, TargetThatCannotBeCreatedOrReplacedLeavesNothingBehind) {
  const Source source = AnalyseCameraFile("a.crw");
  platform.answers = {folder / "gone/x.crw", folder / "gone/x.jpg"};
  EXPECT_THROW(WriteRepaired(context, source.path, false), FileError);
  EXPECT_THROW(WriteThumbnail(context, source.path, state.JPEGStart, state.JPEGSize, false), FileError);

  // A folder of the output's name is not replaced.
  fs::create_directory(folder / "a.crw_repaired.crw");
  platform.answers = {folder / "a.crw"};
  EXPECT_THROW(WriteRepaired(context, source.path, false), FileError);
  EXPECT_TRUE(fs::is_directory(folder / "a.crw_repaired.crw"));
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "a.crw_repaired.crw"}));
}

TEST_F(Writers, CopyAcrossFileSystemsGivesTheSameBytes) {
  const fs::path shm = "/dev/shm";
  if (!fs::is_directory(shm) || access(shm.c_str(), W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  const Source local = WriteCameraFile("a.crw");
  const std::string source = (shm / ("mendrake-writers-" + std::to_string(getpid()) + ".crw")).string();
  WriteFile(source, local.bytes);
  FileImage image;
  ASSERT_TRUE(RepairFileOfRun(context, image, source));
  platform.answers = {folder / "b.crw", folder / "b.jpg"};
  WriteRepaired(context, source, false);
  WriteThumbnail(context, source, state.JPEGStart, state.JPEGSize, false);
  fs::remove(source);
  EXPECT_EQ(ReadFile(folder / "b.crw_repaired.crw"), Prefix(local.bytes, local.trueSize));
  EXPECT_EQ(ReadFile(folder / "b.jpg"), local.thumbnail);
}

using SaveCommands = RunFixture;

TEST_F(SaveCommands, SaveWhenTheSearchFoundASizeAndJpegWhenAlsoAThumbnail) {
  const Source source = AnalyseCameraFile("a.crw");
  platform.answers = {folder / "out.crw", folder / "out.jpg"};
  actSaveExecute(context);
  actSaveJPEGExecute(context);
  ASSERT_EQ(platform.dialogs.size(), 2u);
  EXPECT_EQ(platform.dialogs[0].filter, kCrwFilter);
  EXPECT_EQ(platform.dialogs[1].filter, kJpegFilter);
  EXPECT_EQ(ReadFile(folder / "out.crw_repaired.crw"), Prefix(source.bytes, source.trueSize));
  EXPECT_EQ(ReadFile(folder / "out.jpg"), source.thumbnail);
}

TEST_F(SaveCommands, DoNothingWhenTheSearchFoundNoSize) {
  Source source = WriteCameraFile("cut.crw", 0);
  // Cut inside the data: no candidate leads to a directory, but the thumbnail record is long gone too.
  WriteFile(source.path, Prefix(source.bytes, source.trueSize - 40));
  FileImage image;
  ASSERT_TRUE(RepairFileOfRun(context, image, source.path));
  ASSERT_EQ(state.FFilesize, std::int64_t{state.HLen} + 1);
  state.FoundJPEG = true;  // as after a walk that met the thumbnail but not the rest
  state.JPEGStart = 100;
  state.JPEGSize = 10;
  actSaveExecute(context);
  actSaveJPEGExecute(context);
  EXPECT_TRUE(platform.dialogs.empty());
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"cut.crw"});
}

TEST_F(SaveCommands, SaveJpegNeedsAThumbnailRecordWithStartAndLength) {
  AnalyseCameraFile("a.crw");
  const AnalysisState analysed = state;
  state.FoundJPEG = false;
  actSaveJPEGExecute(context);
  state = analysed;
  state.JPEGStart = 0;
  actSaveJPEGExecute(context);
  state = analysed;
  state.JPEGSize = 0;
  actSaveJPEGExecute(context);
  EXPECT_TRUE(platform.dialogs.empty());
}

TEST_F(SaveCommands, DoNothingWhenTheLastFileFailedItsHeaderCheckOrLoad) {
  AnalyseCameraFile("a.crw");
  WriteFile(folder / "b.crw", Bytes(100, 'x'));
  FileImage image;
  ASSERT_FALSE(RepairFile(context, image, folder / "b.crw"));
  actSaveExecute(context);
  actSaveJPEGExecute(context);
  EXPECT_THROW(RepairFile(context, image, folder / "missing.crw"), FileError);
  actSaveExecute(context);
  actSaveJPEGExecute(context);
  EXPECT_TRUE(platform.dialogs.empty());
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "b.crw"}));
}

}  // namespace
}  // namespace mendrake::testing
