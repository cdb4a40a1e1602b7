#include "analysis/CandidateFeed.h"
#include "analysis/CandidateScan.h"
#include "files/FileError.h"
#include "analysis/SizeSearch.h"
#include "tests/support/Sample.h"
#include "tests/support/AnalysisHarness.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace mendrake::testing {
namespace {

using Lines = std::vector<std::string>;

// Fills {name} placeholders of an expected log.
std::string Expand(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
      text.replace(at, name.size(), value);
    }
  }
  return text;
}

// The log of the default camera file, found at {true} bytes.
const char* const kCameraLog = R"(Repairing file {file}
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: {true}
Old filesize was:  {old}
Successfully repaired file.
)";

// Junk ending in a pointer to a directory of its own: the walk at the full size
// meets these entries, whose offsets count from the root heap.
void AppendDecoy(Bytes& file, const std::vector<DirectoryEntry>& entries, bool bigEndian) {
  const auto directoryAt = static_cast<std::uint32_t>(file.size());
  const Bytes directory = DirectoryBytes(entries, bigEndian);
  file.insert(file.end(), directory.begin(), directory.end());
  file.insert(file.end(), 64, 0xFF);
  Put32(file, directoryAt - 26, bigEndian);
}

Bytes WithHeaderLength(Bytes file, std::uint32_t headerLength, bool bigEndian) {
  Bytes field;
  Put32(field, headerLength, bigEndian);
  PlaceAt(file, 2, field);
  return file;
}

class SizeSearch : public ::testing::TestWithParam<bool> {
 protected:
  bool big() const { return GetParam(); }

  Bytes Camera(CameraFileOptions options = {}) const {
    options.bigEndian = big();
    return MakeCameraFile(options);
  }

  std::string CameraLog(const std::string& path, std::size_t trueSize, std::size_t oldSize) const {
    return Expand(kCameraLog, {{"{file}", path}, {"{true}", std::to_string(trueSize)}, {"{old}", std::to_string(oldSize)}});
  }

  ScratchFolder dir;
  Analysis analysis;
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, SizeSearch, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

// ---------------------------------------------------------------- intact and with junk

TEST_P(SizeSearch, AnIntactFileIsFoundAtItsOwnSize) {
  const Bytes file = Camera();
  const std::string path = dir.Write("IMG_0001.CRW", file);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), CameraLog(path, file.size(), file.size()));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(file.size()));
  EXPECT_TRUE(SearchFoundSize(analysis.state));
  EXPECT_EQ(analysis.state.CurrentFilename, path);
  EXPECT_EQ(analysis.state.BigEndian, big());
  EXPECT_EQ(analysis.state.HLen, 26u);
  EXPECT_TRUE(analysis.state.FoundJPEG);
  EXPECT_EQ(analysis.state.JPEGStart, 26u + 4096u);
  EXPECT_EQ(analysis.state.JPEGSize, 512u);
  EXPECT_EQ(analysis.image.Size(), static_cast<std::int64_t>(file.size()));
}

TEST_P(SizeSearch, JunkOfEveryKindIsCutOff) {
  const Bytes intact = Camera();
  struct Case {
    JunkKind kind;
    std::size_t count;
  };
  for (const Case& junk : {Case{JunkKind::kRandom, 1}, Case{JunkKind::kRandom, 1000}, Case{JunkKind::kZeros, 1},
                           Case{JunkKind::kZeros, 1000}, Case{JunkKind::kOnes, 3}, Case{JunkKind::kOnes, 1000},
                           Case{JunkKind::kCopyOfStart, 1000}, Case{JunkKind::kCopyOfStart, 4000}}) {
    SCOPED_TRACE(::testing::Message() << "junk kind " << static_cast<int>(junk.kind) << ", " << junk.count << " bytes");
    Bytes file = intact;
    AppendJunk(file, junk.kind, junk.count);
    const std::string path = dir.Write("junk.crw", file);
    Analysis fresh;
    EXPECT_TRUE(fresh.Repair(path));
    EXPECT_EQ(Joined(fresh.Lines()), CameraLog(path, intact.size(), file.size()));
    EXPECT_EQ(fresh.state.FFilesize, static_cast<std::int64_t>(intact.size()));
  }
}

TEST_P(SizeSearch, ALongRandomTailStillEndsAtTheTrueSize) {
  const Bytes intact = Camera();
  Bytes file = intact;
  AppendJunk(file, JunkKind::kRandom, 256 * 1024, 7);
  EXPECT_TRUE(analysis.Repair(dir.Write("random.crw", file)));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(intact.size()));
  const Lines& lines = analysis.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 2], "Old filesize was:  " + std::to_string(file.size()));
  EXPECT_EQ(lines.back(), "Successfully repaired file.");
}

TEST_P(SizeSearch, TheSearchStopsAtTheFirstSuccessFromTheTop) {
  // A whole second copy after the file ends in the file's own directory pointer.
  const Bytes intact = Camera();
  Bytes file = intact;
  AppendJunk(file, JunkKind::kCopyOfStart, intact.size());
  const std::string path = dir.Write("twice.crw", file);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), CameraLog(path, file.size(), file.size()));
}

// ---------------------------------------------------------------- no size found

TEST_P(SizeSearch, AHeaderLengthAtOrPastTheSizeMeansNoWalk) {
  const Bytes intact = Camera();
  for (const std::uint32_t headerLength : {static_cast<std::uint32_t>(intact.size()), 0xFFFFFFFFu}) {
    SCOPED_TRACE(headerLength);
    const std::string path = dir.Write("long-header.crw", WithHeaderLength(intact, headerLength, big()));
    Analysis fresh;
    EXPECT_TRUE(fresh.Repair(path));
    EXPECT_EQ(Joined(fresh.Lines()), "Repairing file " + path + "\nFound filesize as: " +
                                         std::to_string(intact.size() + 1) + "\nOld filesize was:  " +
                                         std::to_string(intact.size()) + "\n");
    EXPECT_EQ(fresh.state.FFilesize, static_cast<std::int64_t>(intact.size()) + 1);
    EXPECT_FALSE(SearchFoundSize(fresh.state));
    EXPECT_EQ(fresh.state.HLen, headerLength);
  }
}

TEST_P(SizeSearch, AHeaderLengthJustBelowTheSizeTriesOneCandidate) {
  const Bytes intact = Camera();
  const auto headerLength = static_cast<std::uint32_t>(intact.size() - 1);
  const std::string path = dir.Write("one.crw", WithHeaderLength(intact, headerLength, big()));
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), "Repairing file " + path + "\nFound filesize as: " +
                                          std::to_string(intact.size()) + "\nOld filesize was:  " +
                                          std::to_string(intact.size()) + "\n");
  EXPECT_FALSE(SearchFoundSize(analysis.state));
}

TEST_P(SizeSearch, AFileCutShortIsNotRepaired) {
  Bytes file = Camera();
  file.resize(2000);
  const std::string path = dir.Write("cut.crw", file);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), "Repairing file " + path + "\nFound filesize as: 27\nOld filesize was:  2000\n");
  EXPECT_EQ(analysis.state.FFilesize, 27);
  EXPECT_FALSE(SearchFoundSize(analysis.state));
}

TEST_P(SizeSearch, WithoutADecoderTableNoSizeIsFound) {
  CameraFileOptions options;
  options.hasDecoderTable = false;
  const Bytes intact = Camera(options);
  for (const std::size_t junk : {std::size_t{0}, std::size_t{500}}) {
    Bytes file = intact;
    AppendJunk(file, JunkKind::kOnes, junk);
    const std::string path = dir.Write("no-table.crw", file);
    Analysis fresh;
    EXPECT_TRUE(fresh.Repair(path));
    EXPECT_EQ(Joined(fresh.Lines()), Expand(R"(Repairing file {file}
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 27
Old filesize was:  {old}
)",
                                            {{"{file}", path}, {"{old}", std::to_string(file.size())}}));
    EXPECT_FALSE(SearchFoundSize(fresh.state));
    EXPECT_TRUE(fresh.state.FoundName && fresh.state.FoundSize && fresh.state.FoundDATA);
    EXPECT_FALSE(fresh.state.FoundTable);
  }
}

TEST_P(SizeSearch, ASuccessAtTheLastCandidateCountsAsNoSizeFound) {
  // A 40-byte header whose last three bytes and the heap's one byte point to a
  // directory with all four records: only the candidate HLen + 1 can walk it.
  Bytes file(300, 0xFF);
  PlaceAt(file, 0, Bytes(2, big() ? 'M' : 'I'));
  Bytes header;
  Put32(header, 40, big());
  header.insert(header.end(), {'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'});
  header.resize(35, 0);
  Put32(header, 20, big());
  PlaceAt(file, 2, header);
  PlaceAt(file, 60, DirectoryBytes({{0x080A, 1, 100}, {0x1031, 1, 150}, {0x1835, 1, 0}, {0x2005, 1, 0}}, big()));
  PlaceAt(file, 140, MakeModelRecord("Canon", "Last"));
  PlaceAt(file, 190, SensorInfoRecord(30, 20, big()));
  const std::string path = dir.Write("last.crw", file);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), Expand(R"(Repairing file {file}
Make: Canon
Model: Last
Height: 20
Width: 30
CCD data found
Found filesize as: 41
Old filesize was:  300
)",
                                             {{"{file}", path}}));
  EXPECT_TRUE(AllRequiredRecordsFound(analysis.state));
  EXPECT_FALSE(SearchFoundSize(analysis.state));
}

// The search rejects most candidates before walking; it must reject no
// candidate that the walk itself would take.
TEST_P(SizeSearch, ARootDirectoryOf256EntriesIsFoundAndOf257IsNot) {
  const auto build = [&](int extraEntries) {
    HeapBuilder exif;
    exif.Record(0x1031, SensorInfoRecord(3072, 2048, big())).Record(0x1835, Filler(8, 0x44));
    CrwFile file;
    file.bigEndian = big();
    file.root.Record(0x2005, Filler(64, 0x5A)).Record(0x080A, MakeModelRecord("Canon", "EOS")).SubHeap(0x300A, exif);
    for (int i = 0; i < extraEntries; ++i) file.root.Inline(0x5000, 0, 0);
    return file.Build();
  };
  const Bytes full = build(253);
  const std::string path = dir.Write("256.crw", full);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(full.size()));

  Analysis over;
  EXPECT_TRUE(over.Repair(dir.Write("257.crw", build(254))));
  EXPECT_FALSE(SearchFoundSize(over.state));
  EXPECT_EQ(over.Lines().size(), 3u);
}

TEST_P(SizeSearch, ARootPointerAndDirectoryJustPastTheHeaderAreFound) {
  // A header length of 0: the root heap starts at the file's first byte.
  const auto file = [&](std::size_t directoryAt) {
    Bytes bytes{static_cast<std::uint8_t>(big() ? 'M' : 'I'), static_cast<std::uint8_t>(big() ? 'M' : 'I'), 0, 0, 0, 0,
                'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
    PlaceAt(bytes, directoryAt, DirectoryBytes({{0x080A, 1, 80}, {0x1031, 1, 100}, {0x1835, 1, 80}, {0x2005, 1, 80}},
                                               big()));
    PlaceAt(bytes, 80, MakeModelRecord("Canon", "EOS"));
    PlaceAt(bytes, 100, SensorInfoRecord(30, 20, big()));
    return bytes;
  };
  // The directory at 15, pointed to from the end of its heap and again from
  // the file's last four bytes.
  Bytes atFifteen = file(15);
  Bytes fifteen;
  Put32(fifteen, 15, big());
  PlaceAt(atFifteen, 15 + 2 + 4 * 10, fifteen);
  Put32(atFifteen, 15, big());
  EXPECT_TRUE(analysis.Repair(dir.Write("dir15.crw", atFifteen)));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(atFifteen.size()));

  // The pointer at 15: only the candidate of 19 bytes reads it. Its walk
  // meets every record, but a directory past its pointer ends no heap.
  Bytes pointerAtFifteen = file(20);
  Bytes pointer;
  Put32(pointer, 20, big());
  PlaceAt(pointerAtFifteen, 15, pointer);
  Analysis other;
  EXPECT_TRUE(other.Repair(dir.Write("ptr15.crw", pointerAtFifteen)));
  EXPECT_EQ(other.Lines()[1], "Make: Canon");
  EXPECT_TRUE(AllRequiredRecordsFound(other.state));
  EXPECT_FALSE(SearchFoundSize(other.state));
}

// ---------------------------------------------------------------- over several candidates

TEST_P(SizeSearch, FlagsGatheredOverSeveralCandidatesFindNoSize) {
  // The file lacks its decoder table; a walk of a longer candidate met one.
  // The flags stay set, but no single walk met all four records.
  CameraFileOptions options;
  options.hasDecoderTable = false;
  const Bytes intact = Camera(options);
  Bytes file = intact;
  AppendDecoy(file, {{0x1835, 1, 0}, {0x2005, 1, 0}}, big());
  const std::string path = dir.Write("gathered.crw", file);
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), Expand(R"(Repairing file {file}
CCD data found
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 27
Old filesize was:  {old}
)",
                                             {{"{file}", path}, {"{old}", std::to_string(file.size())}}));
  EXPECT_TRUE(AllRequiredRecordsFound(analysis.state));
  EXPECT_FALSE(SearchFoundSize(analysis.state));
}

TEST_P(SizeSearch, AChancePointerJustBeforeTheRootDirectoryIsPassedOver) {
  // 90 bytes before the root directory a count of 17 and nine inert entries
  // lead a walk into the real entries: the walk meets all four records, but
  // its directory does not end where the chance pointer in the junk begins.
  Bytes garbage;
  Put16(garbage, 17, big());
  for (int i = 0; i < 9; ++i) {
    Put16(garbage, 0x5000, big());
    garbage.resize(garbage.size() + 8, 0);
  }
  garbage.resize(90);
  HeapBuilder exif;
  exif.Record(0x080A, MakeModelRecord("Canon", "EOS")).Record(0x1031, SensorInfoRecord(30, 20, big()));
  exif.Record(0x1835, Filler(8, 0x44));
  CrwFile crw;
  crw.bigEndian = big();
  crw.root.Record(0x2005, Filler(64, 0x5A)).SubHeap(0x300A, exif).Record(0x0030, garbage);
  const Bytes intact = crw.Build();
  const std::size_t rootDirectory = intact.size() - 4 - (2 + 3 * 10);
  Bytes file = intact;
  file.resize(file.size() + 1000, 0);
  Put32(file, static_cast<std::uint32_t>(rootDirectory - 90 - crw.headerLength), big());
  EXPECT_TRUE(analysis.Repair(dir.Write("chance.crw", file)));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(intact.size()));
  const Lines& lines = analysis.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Model: EOS"), 2);  // the chance walk, then the true one
  EXPECT_EQ(lines.back(), "Successfully repaired file.");
}

// Only the walk that ends the search speaks for the file's thumbnail: a stray
// thumbnail record in the bytes after it is logged by a longer candidate's
// walk, but neither replaces the file's own nor stands in for a missing one.
TEST_P(SizeSearch, OnlyTheSucceedingWalksThumbnailIsTheFiles) {
  const Bytes intact = Camera();
  Bytes file = intact;
  AppendDecoy(file, {{0x2007, 77, 100}}, big());
  EXPECT_TRUE(analysis.Repair(dir.Write("thumbs.crw", file)));
  EXPECT_EQ(analysis.state.JPEGStart, 26u + 4096u);
  EXPECT_EQ(analysis.state.JPEGSize, 512u);

  CameraFileOptions options;
  options.hasThumbnail = false;
  file = Camera(options);
  AppendDecoy(file, {{0x2007, 77, 100}}, big());
  Analysis other;
  EXPECT_TRUE(other.Repair(dir.Write("decoy-thumb.crw", file)));
  EXPECT_TRUE(SearchFoundSize(other.state));
  EXPECT_FALSE(other.state.FoundJPEG);
  EXPECT_EQ(other.state.JPEGStart, 0u);
  const Lines& lines = other.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "JPEG thumbnail found"), 1);  // the decoy's walk, still logged
}

// ---------------------------------------------------------------- per file

TEST_P(SizeSearch, AFileThatIsNotCrwIsReportedAndKeepsTheLastFilesHeaderValues) {
  const std::string good = dir.Write("good.crw", Camera());
  Bytes notCrw = Camera();
  notCrw[0] = 'i';
  notCrw[1] = 'i';
  const std::string bad = dir.Write("bad.crw", notCrw);
  ASSERT_TRUE(analysis.Repair(good));
  const AnalysisState before = analysis.state;
  analysis.log.Clear();

  EXPECT_FALSE(analysis.Repair(bad));
  EXPECT_EQ(analysis.Lines(), (Lines{"Repairing file " + bad, "The file is not a valid CRW file."}));
  const AnalysisState& after = analysis.state;
  EXPECT_EQ(after.CurrentFilename, "");
  EXPECT_FALSE(after.FoundName || after.FoundJPEG || after.FoundDATA || after.FoundTable || after.FoundSize);
  EXPECT_EQ(after.JPEGStart, 0u);
  EXPECT_EQ(after.JPEGSize, before.JPEGSize);
  EXPECT_EQ(after.FFilesize, before.FFilesize);
  EXPECT_EQ(after.BigEndian, before.BigEndian);
  EXPECT_EQ(after.HLen, before.HLen);
  EXPECT_EQ(analysis.image.Size(), static_cast<std::int64_t>(notCrw.size()));
}

TEST_P(SizeSearch, ShortOrEmptyFilesAreNotCrwFiles) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{13}}) {
    Bytes file = Camera();
    file.resize(size);
    const std::string path = dir.Write("short.crw", file);
    Analysis fresh;
    EXPECT_FALSE(fresh.Repair(path));
    EXPECT_EQ(fresh.Lines(), (Lines{"Repairing file " + path, "The file is not a valid CRW file."}));
  }
}

TEST_P(SizeSearch, EachFileStartsWithoutFlagsOrThumbnailButKeepsTheThumbnailSize) {
  ASSERT_TRUE(analysis.Repair(dir.Write("with.crw", Camera())));
  CameraFileOptions options;
  options.hasThumbnail = false;
  const std::string without = dir.Write("without.crw", Camera(options));
  ASSERT_TRUE(analysis.Repair(without));
  EXPECT_FALSE(analysis.state.FoundJPEG);
  EXPECT_EQ(analysis.state.JPEGStart, 0u);
  EXPECT_EQ(analysis.state.JPEGSize, 512u);
  EXPECT_EQ(analysis.state.CurrentFilename, without);
}

TEST_P(SizeSearch, AFileThatCannotBeReadRaisesAndLogsNothing) {
  const std::string missing = (dir / "gone.crw");
  EXPECT_THROW(analysis.Repair(missing), FileError);
  EXPECT_EQ(analysis.Lines(), Lines{});
  EXPECT_EQ(analysis.state.CurrentFilename, "");
}

// ---------------------------------------------------------------- the real sample

// Behind a long tail the scan runs ahead on helper threads; its answers must
// be the calling thread's own, in order, across blocks, in a crowded stretch
// (a tail of zeros where every candidate leads to one directory) and past it.
TEST(CandidateFeed, AnswersAsTheScanDoesWithHelpersAndCrowdedBlocks) {
  constexpr std::int64_t kRootStart = 26;
  Bytes bytes(kRootStart, 0);
  bytes.insert(bytes.end(), {1, 0});  // a plausible count where pointer 0 leads
  AppendJunk(bytes, JunkKind::kRandom, 2 << 20, 11);
  bytes.resize(bytes.size() + (256 << 10), 0);
  AppendJunk(bytes, JunkKind::kRandom, 1 << 20, 12);
  FileImage image;
  image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));

  for (const bool bigEndian : {false, true}) {
    const RootCandidateScan scan(image, kRootStart, bigEndian);
    CandidateFeed feed(image, kRootStart, bigEndian, image.Size(),
                       {.blockSize = 4096, .helpers = 3, .helpFrom = 0, .maxHitsPerBlock = 16});
    std::int64_t answers = 0;
    for (std::int64_t highest = image.Size(); highest > kRootStart;) {
      const std::int64_t lowest = std::max(kRootStart + 1, highest - 5000);
      const CandidateHit expected = scan.FirstPlausible(highest, lowest);
      const CandidateHit fed = feed.FirstPlausible(highest, lowest);
      ASSERT_EQ(fed.candidate, expected.candidate) << "below " << highest;
      ASSERT_EQ(fed.directory, expected.directory) << "below " << highest;
      answers += expected.candidate >= lowest;
      highest = expected.candidate - 1;
    }
    EXPECT_GT(answers, (256 << 10) - 8);  // the zeros gave a hit at nearly every candidate
  }
}

TEST(SampleFile, GivesTheIntactFileLog) {
  MENDRAKE_REQUIRE_SAMPLE(path);
  Analysis analysis;
  EXPECT_TRUE(analysis.Repair(path));
  EXPECT_EQ(Joined(analysis.Lines()), Expand(R"(Repairing file {file}
CCD data found
JPEG thumbnail found
Make: Canon
Model: Canon EOS DIGITAL REBEL
White Balance: Auto
Height: 2068
Width: 3152
Found filesize as: 6816
Old filesize was:  6816
Successfully repaired file.
)",
                                             {{"{file}", path}}));
  EXPECT_FALSE(analysis.state.BigEndian);
  EXPECT_EQ(analysis.state.HLen, 26u);
}

TEST(SampleFile, WithJunkAppendedIsFoundAtItsOwnSize) {
  MENDRAKE_REQUIRE_SAMPLE(samplePath);
  const Bytes sample = ReadFile(samplePath);
  ASSERT_EQ(sample.size(), 6816u);
  // Its heap ends at 6256, followed by a trailer that repeats the heap's pointer.
  ASSERT_EQ(Bytes(sample.begin() + 6252, sample.begin() + 6256), Bytes(sample.end() - 4, sample.end()));
  ScratchFolder dir;
  for (const JunkKind kind : {JunkKind::kRandom, JunkKind::kZeros, JunkKind::kOnes, JunkKind::kCopyOfStart}) {
    Bytes file = sample;
    AppendJunk(file, kind, 3000, 11);
    Analysis analysis;
    EXPECT_TRUE(analysis.Repair(dir.Write("IMG_0001.CRW", file)));
    EXPECT_EQ(analysis.state.FFilesize, 6816) << static_cast<int>(kind);
    const Lines& lines = analysis.Lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[4], "Model: Canon EOS DIGITAL REBEL");
    EXPECT_EQ(lines[9], "Old filesize was:  9816");
  }
}

}  // namespace
}  // namespace mendrake::testing
