#include "files/FileError.h"
#include "repair/RepairRun.h"
#include "tests/support/HostileCards.h"
#include "tests/support/RunFixture.h"

#include <filesystem>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

const std::string kNotCrw = "The file is not a valid CRW file.";

class RepairRunTest : public RunFixture {
 protected:
  // Every record but the decoder table: the search never settles on a size,
  // though it meets the thumbnail record.
  Source WriteFileWithoutDecoderTable(const std::string& name) {
    HeapBuilder properties;
    properties.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D30"))
        .Record(0x1031, SensorInfoRecord(2160, 1440, false));
    CrwFile file;
    const Bytes thumbnail = MakeJpeg(32, 16);
    file.root.Record(0x2005, Filler(3000, 0x5A)).Record(0x2007, thumbnail).SubHeap(0x300A, properties);
    Source source{folder / name, file.Build(), 0, thumbnail};
    source.trueSize = source.bytes.size();
    WriteFile(source.path, source.bytes);
    return source;
  }

  void ExpectOutputsOf(const Source& source, const std::string& repairedName, const std::string& thumbnailName) {
    EXPECT_EQ(ReadFile(folder / repairedName), Prefix(source.bytes, source.trueSize)) << repairedName;
    EXPECT_EQ(ReadFile(folder / thumbnailName), source.thumbnail) << thumbnailName;
  }

  long CountLogged(const std::string& prefix) const {
    return std::count_if(log.Lines().begin(), log.Lines().end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }
};

TEST_F(RepairRunTest, OneFileIsAnalysedAndPreviewedAndNothingIsWritten) {
  log.Append("left from an earlier run");
  state.Aborted = true;
  const Source source = WriteCameraFile("IMG_0001.CRW", 2000, 80);
  RepairRun(context, {source.path});

  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"IMG_0001.CRW"});
  ASSERT_FALSE(log.Lines().empty());
  EXPECT_EQ(log.Lines().front(), "Repairing file " + source.path);
  EXPECT_EQ(log.Lines().back(), "Successfully repaired file.");
  ASSERT_EQ(platform.pictures.size(), 1u);
  EXPECT_EQ(platform.pictures[0].width, 80);
  // What "&Save" and "Save &JPEG" act on afterwards.
  EXPECT_EQ(state.CurrentFilename, source.path);
  EXPECT_EQ(state.FFilesize, static_cast<std::int64_t>(source.trueSize));
  EXPECT_FALSE(state.Aborted);
  EXPECT_FALSE(platform.busy);
  EXPECT_EQ(platform.busyChanges, 2);
}

TEST_F(RepairRunTest, SeveralFilesAreWrittenBesideTheirSourcesAndOnlyTheLastIsPreviewed) {
  const Source first = WriteCameraFile("IMG_0001.CRW", 1000, 40);
  const Source second = WriteCameraFile("IMG_0002.crw", 0, 56);
  const Source third = WriteCameraFile("scan", 3000, 72);
  RepairRun(context, {first.path, second.path, third.path});

  ExpectOutputsOf(first, "IMG_0001.CRW_repaired.CRW", "IMG_0001.jpg");
  ExpectOutputsOf(second, "IMG_0002.crw_repaired.crw", "IMG_0002.jpg");
  ExpectOutputsOf(third, "scan_repaired", "scan.jpg");
  ASSERT_EQ(platform.pictures.size(), 1u);
  EXPECT_EQ(platform.pictures[0].width, 72);
  EXPECT_EQ(CountLogged("Successfully repaired file."), 3);
  EXPECT_TRUE(platform.dialogs.empty());
}

// A file without a thumbnail, followed by junk holding a stray thumbnail
// record: a longer candidate's walk meets it and logs it, but only the walk
// that found the size speaks for the file, so no thumbnail is written or shown.
TEST_F(RepairRunTest, AStrayThumbnailRecordAfterAFileIsNeitherWrittenNorPreviewed) {
  const std::string a = folder / "a.crw";
  const std::string b = folder / "b.crw";
  WriteFile(a, FileWithStrayThumbnailAfter(false));
  WriteFile(b, FileWithStrayThumbnailAfter(true));
  EXPECT_EQ(RepairRun(context, {a, b}).sizesFound, 2u);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "a.crw_repaired.crw", "b.crw", "b.crw_repaired.crw"}));
  EXPECT_EQ(CountLogged("JPEG thumbnail found"), 2);  // the walks' lines stay
  EXPECT_EQ(CountLogged("Unable to preview the JPEG"), 0);
  EXPECT_TRUE(platform.pictures.empty());
  EXPECT_FALSE(state.FoundJPEG);
}

TEST_F(RepairRunTest, FileThatIsNoCrwIsReportedAndSkipped) {
  const Source first = WriteCameraFile("a.crw");
  WriteFile(folder / "notes.txt", Bytes(300, 'n'));
  const Source third = WriteCameraFile("c.crw");
  RepairRun(context, {first.path, folder / "notes.txt", third.path});

  ExpectOutputsOf(first, "a.crw_repaired.crw", "a.jpg");
  ExpectOutputsOf(third, "c.crw_repaired.crw", "c.jpg");
  EXPECT_EQ(folder.Entries().size(), 7u);
  EXPECT_EQ(CountLogged(kNotCrw), 1);
  EXPECT_EQ(platform.pictures.size(), 1u);

  // With the file that is no CRW last, nothing is previewed and Save has nothing to save.
  platform.pictures.clear();
  RepairRun(context, {first.path, folder / "notes.txt"});
  EXPECT_TRUE(platform.pictures.empty());
  EXPECT_EQ(log.Lines().back(), kNotCrw);
  EXPECT_TRUE(state.CurrentFilename.empty());
}

TEST_F(RepairRunTest, FileWithoutAFoundSizeStillGetsItsThumbnailButNoCopy) {
  const Source first = WriteFileWithoutDecoderTable("odd.crw");
  const Source second = WriteCameraFile("b.crw");
  RepairRun(context, {first.path, second.path});

  EXPECT_EQ(ReadFile(folder / "odd.jpg"), first.thumbnail);
  EXPECT_FALSE(fs::exists(folder / "odd.crw_repaired.crw"));
  ExpectOutputsOf(second, "b.crw_repaired.crw", "b.jpg");

  // Last in the run, such a file is not previewed.
  platform.pictures.clear();
  RepairRun(context, {second.path, first.path});
  EXPECT_TRUE(platform.pictures.empty());
}

TEST_F(RepairRunTest, FileThatCannotBeReadEndsTheRunWithItsErrorNamingTheFilesLeft) {
  const Source first = WriteCameraFile("a.crw");
  std::vector<std::string> paths{first.path, folder / "missing.crw"};
  for (int i = 0; i < 12; ++i) paths.push_back(WriteCameraFile("c" + std::to_string(i) + ".crw", 10).path);
  std::string left = "The run stopped at file 2 of 14; these 12 files were not processed:";
  for (int i = 2; i < 12; ++i) left += "\n  " + paths[static_cast<std::size_t>(i)];
  left += "\n  and 2 more";
  try {
    RepairRun(context, paths);
    ADD_FAILURE() << "the run did not fail";
  } catch (const FileError& error) {
    EXPECT_EQ(error.path(), folder / "missing.crw");
    EXPECT_EQ(error.note(), left);
    EXPECT_EQ(std::string(error.what()),
              "\"" + folder / "missing.crw" + "\": cannot open the file: No such file or directory\n" + left);
  }
  ExpectOutputsOf(first, "a.crw_repaired.crw", "a.jpg");
  EXPECT_FALSE(fs::exists(folder / "c0.crw_repaired.crw"));
  EXPECT_EQ(CountLogged("Repairing file " + paths[2]), 0);
  EXPECT_FALSE(platform.busy);
}

TEST_F(RepairRunTest, ControlBytesOfFileNamesAreShownEscaped) {
  const Source source = WriteCameraFile("a\nRepairing file \x1B[2J.crw");
  const std::string shown = folder / "a\\x0ARepairing file \\x1B[2J.crw";
  try {
    RepairRun(context, {source.path, folder / "gone\r.crw", source.path});
    ADD_FAILURE() << "the run did not fail";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "\"" + folder / "gone\\x0D.crw" +
                                             "\": cannot open the file: No such file or directory\n"
                                             "The run stopped at file 2 of 3; this file was not processed:\n  " + shown);
  }
  EXPECT_EQ(log.Lines().front(), "Repairing file " + shown);
}

TEST_F(RepairRunTest, OutputThatCannotBeWrittenEndsTheRun) {
  // A legal source name whose "_repaired" name is longer than any file name can be.
  const std::string stem(240, 'a');
  const Source first = WriteCameraFile(stem + ".crw");
  const Source second = WriteCameraFile("b.crw");
  EXPECT_THROW(RepairRun(context, {first.path, second.path}), FileError);
  EXPECT_FALSE(fs::exists(folder / (stem + ".jpg")));
  EXPECT_EQ(CountLogged("Repairing file " + second.path), 0);
  EXPECT_FALSE(platform.busy);
}

TEST_F(RepairRunTest, ThumbnailRecordPastTheEndOfItsFileEndsTheRun) {
  HeapBuilder properties;
  properties.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D30"))
      .Record(0x1031, SensorInfoRecord(2160, 1440, false))
      .Record(0x1835, Filler(16, 0));
  CrwFile file;
  file.root.Record(0x2005, Filler(3000, 0x5A)).Entry(0x2007, 100000, 20).SubHeap(0x300A, properties);
  WriteFile(folder / "a.crw", file.Build());
  const Source second = WriteCameraFile("b.crw");
  EXPECT_THROW(RepairRun(context, {folder / "a.crw", second.path}), FileError);
  // The repaired copy came first and stands; the thumbnail left nothing.
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "a.crw_repaired.crw", "b.crw"}));
}

TEST_F(RepairRunTest, CancelledSearchWritesAndShowsNothingAndEndsTheRun) {
  const Source first = WriteCameraFile("a.crw", 200000);
  const Source second = WriteCameraFile("b.crw");
  platform.onEvents = [this] { state.Aborted = true; };
  RepairRun(context, {first.path, second.path});

  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "b.crw"}));
  EXPECT_TRUE(platform.pictures.empty());
  EXPECT_EQ(CountLogged("Successfully repaired file."), 0);
  EXPECT_EQ(CountLogged("Repairing file " + second.path), 0);
  EXPECT_FALSE(platform.busy);

  // A single cancelled file is neither previewed nor left for "&Save".
  RepairRun(context, {first.path});
  EXPECT_TRUE(platform.pictures.empty());
  EXPECT_FALSE(SearchFoundSize(state));
}

TEST_F(RepairRunTest, CancelWhileALargeFileLoadsEndsItAsACancelledSearch) {
  // Larger than one piece of a load: the window is asked to process events before the search begins.
  const Source first = WriteCameraFile("a.crw", static_cast<std::size_t>(FileImage::kLoadPiece));
  const Source second = WriteCameraFile("b.crw");
  int rounds = 0;
  platform.onEvents = [&] {
    ++rounds;
    state.Aborted = true;
  };
  RepairRun(context, {first.path, second.path});

  EXPECT_EQ(rounds, 1);
  // The line of a search cancelled before its first candidate, as the last line of that file.
  EXPECT_EQ(log.Lines().back(), "Search cancelled at size " + std::to_string(first.bytes.size() + 1) +
                                    "; the file was not repaired.");
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"a.crw", "b.crw"}));
  EXPECT_EQ(CountLogged("Repairing file " + second.path), 0);
  EXPECT_TRUE(platform.pictures.empty());
}

// A cancel that arrives as the search succeeds: the file was reported
// repaired, so its outputs are written; the run still ends with it.
TEST_F(RepairRunTest, CancelArrivingAsTheSearchSucceedsStillWritesThatFile) {
  class CancelOnSuccess : public LogBox {
   public:
    CancelOnSuccess(LogLines& lines, AnalysisState& state) : lines_(lines), state_(state) {}
    void Clear() override { lines_.Clear(); }
    void Append(std::string_view line) override {
      lines_.Append(line);
      if (line == "Successfully repaired file.") state_.Aborted = true;
    }

   private:
    LogLines& lines_;
    AnalysisState& state_;
  } cancellingLog(log, state);
  RepairContext cancelling{state, cancellingLog, platform};

  const Source first = WriteCameraFile("a.crw");
  const Source second = WriteCameraFile("b.crw");
  RepairRun(cancelling, {first.path, second.path});

  ExpectOutputsOf(first, "a.crw_repaired.crw", "a.jpg");
  EXPECT_EQ(CountLogged("Repairing file " + second.path), 0);
}

}  // namespace
}  // namespace mendrake::testing
