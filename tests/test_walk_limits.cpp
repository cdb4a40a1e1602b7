#include "analysis/HeapWalker.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/WalkLimits.h"
#include "tests/support/AnalysisHarness.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace mendrake::testing {
namespace {

using Lines = std::vector<std::string>;

constexpr std::uint32_t kRootStart = 26;
const std::string kCcd = "CCD data found";

long Count(const Lines& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

long CountPrefix(const Lines& lines, const std::string& prefix) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

// Junk after a file that leads candidates to directories of its own. The
// directories lie at offsets (from the root heap) whose two low bytes are
// nonzero and two high bytes zero; a tail of such pointers then leads exactly
// its aligned candidates to them, while every other four bytes of the tail
// read as an offset past the end of any file under a megabyte.
class DecoyJunk {
 public:
  DecoyJunk(Bytes& file, bool bigEndian) : file_(file), bigEndian_(bigEndian) {}

  // Places a directory and returns its offset from the root heap.
  std::uint32_t Directory(const std::vector<DirectoryEntry>& entries) {
    auto offset = static_cast<std::uint32_t>(file_.size()) - kRootStart;
    offset = (offset + 0xFE) / 0x100 * 0x100 + 1;
    file_.resize(kRootStart + offset, 0xFF);
    const Bytes directory = DirectoryBytes(entries, bigEndian_);
    file_.insert(file_.end(), directory.begin(), directory.end());
    return offset;
  }

  // Places bytes (a heap, strings) and returns their offset from the root heap.
  std::uint32_t Place(const Bytes& bytes) {
    const auto offset = static_cast<std::uint32_t>(file_.size()) - kRootStart;
    file_.insert(file_.end(), bytes.begin(), bytes.end());
    return offset;
  }

  // Appends the pointers; the search, going down, meets the last one first.
  void Tail(const std::vector<std::uint32_t>& pointers) {
    file_.insert(file_.end(), 8, 0xFF);
    for (const std::uint32_t pointer : pointers) Put32(file_, pointer, bigEndian_);
  }

 private:
  Bytes& file_;
  bool bigEndian_;
};

// A heap whose every entry but the first names the heap itself: without
// bounds, walking it means 255^depth walks.
HeapBuilder FanOut(bool bigEndian, bool withRawData) {
  const auto build = [&](std::uint32_t ownLength) {
    HeapBuilder heap;
    if (withRawData) heap.Record(0x2005, Filler(4, 0));
    for (int entry = withRawData ? 1 : 0; entry < 256; ++entry) heap.Entry(0x300B, ownLength, 0);
    return heap;
  };
  return build(static_cast<std::uint32_t>(build(0).Build(bigEndian).size()));
}

// ---------------------------------------------------------------- event processing

TEST(EventProcessing, TheClockIsConsultedOncePerBlockOfWork) {
  int polls = 0;
  ScriptedPlatform platform;
  platform.onEvents = [&] { ++polls; };
  for (std::uint32_t i = 1; i < Platform::kWorkUnitsPerClockCheck; ++i) platform.NoteWork();
  EXPECT_EQ(polls, 0);
  platform.NoteWork();
  EXPECT_EQ(polls, 1);
  for (std::uint32_t i = 0; i < Platform::kWorkUnitsPerClockCheck; ++i) platform.NoteWork();
  EXPECT_EQ(polls, 2);
}

TEST(EventProcessing, TheSearchPollsPerBlockOfCandidatesNotPerCandidate) {
  ScratchFolder dir;
  Bytes file = MakeCameraFile();
  const std::size_t junk = 3 * Platform::kWorkUnitsPerClockCheck + 100;
  AppendJunk(file, JunkKind::kOnes, junk);
  int polls = 0;
  ScriptedPlatform platform;
  platform.onEvents = [&] { ++polls; };
  Analysis analysis(platform);
  ASSERT_TRUE(analysis.Repair(dir.Write("junk.crw", file)));
  ASSERT_TRUE(SearchFoundSize(analysis.state));
  // One unit per candidate tried and per directory entry visited (11 in this file).
  const std::size_t candidates = junk + 1;
  EXPECT_EQ(polls, static_cast<int>((candidates + 11) / Platform::kWorkUnitsPerClockCheck));
}

TEST(EventProcessing, ACancelRequestStopsTheSearchWithoutASize) {
  ScratchFolder dir;
  Bytes file = MakeCameraFile();
  AppendJunk(file, JunkKind::kOnes, 10000);
  const std::string path = dir.Write("cancel.crw", file);
  // The window's cancel command, handled the first time events are processed.
  ScriptedPlatform platform;
  Analysis run(platform);
  platform.onEvents = [&] { run.state.Aborted = true; };
  EXPECT_TRUE(run.Repair(path));
  // The request came while handling events after the 4096th candidate.
  const std::size_t lastTried = file.size() - Platform::kWorkUnitsPerClockCheck + 1;
  EXPECT_EQ(run.Lines(), (Lines{"Repairing file " + path,
                                "Search cancelled at size " + std::to_string(lastTried) +
                                    "; the file was not repaired."}));
  EXPECT_EQ(run.state.FFilesize, kRootStart + 1);
  EXPECT_FALSE(SearchFoundSize(run.state));
  EXPECT_EQ(run.state.CurrentFilename, path);
}

TEST(EventProcessing, ACancelRequestWhileCandidatesArePassedOverComesBeforeTheNextWalk) {
  // A decoy directory of one ignored entry at the top: its candidate and entry
  // are two units of work; the 4094 candidates passed over down to the true end
  // bring the count to 4096, so events are processed just before the true end
  // would be walked.
  ScratchFolder dir;
  Bytes file = MakeCameraFile();
  const std::size_t trueSize = file.size();
  DecoyJunk junk(file, false);
  const std::uint32_t directory = junk.Directory({{0x0001, 1, 0}});
  file.resize(trueSize + Platform::kWorkUnitsPerClockCheck - 1 - 12, 0xFF);
  junk.Tail({directory});
  ASSERT_EQ(file.size(), trueSize + Platform::kWorkUnitsPerClockCheck - 1);
  const std::string path = dir.Write("cancel.crw", file);

  ScriptedPlatform platform;
  Analysis run(platform);
  platform.onEvents = [&] { run.state.Aborted = true; };
  EXPECT_TRUE(run.Repair(path));
  EXPECT_EQ(run.Lines(), (Lines{"Repairing file " + path, "Search cancelled at size " + std::to_string(trueSize + 1) +
                                                              "; the file was not repaired."}));
  EXPECT_FALSE(SearchFoundSize(run.state));
}

// ---------------------------------------------------------------- bounded log

TEST(CappedLog, LetsTheCapacityThroughThenOneOmissionLine) {
  LogLines lines;
  CappedLog capped(lines, 3);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(capped.Accepting(), i < 3);
    capped.Append("line " + std::to_string(i));
  }
  EXPECT_EQ(lines.Lines(), (Lines{"line 0", "line 1", "line 2", "Further lines of this file are omitted."}));
}

// A camera file whose junk tail leads `walks` candidates to one directory that
// logs one line, then the true end.
Bytes FileWithManyLoggingWalks(std::size_t walks) {
  Bytes file = MakeCameraFile();
  DecoyJunk junk(file, false);
  const std::uint32_t directory = junk.Directory({{0x2005, 1, 0}});
  junk.Tail(std::vector<std::uint32_t>(walks, directory));
  return file;
}

TEST(BoundedLog, WalkLinesStopAtTheCapWhileFlagsAndReportGoOn) {
  ScratchFolder dir;
  const std::size_t trueSize = MakeCameraFile().size();
  const Bytes file = FileWithManyLoggingWalks(WalkLimits::kMaxLogLinesPerFile + 500);
  const std::string path = dir.Write("many.crw", file);
  Analysis analysis;
  EXPECT_TRUE(analysis.Repair(path));

  const Lines& lines = analysis.Lines();
  ASSERT_EQ(lines.size(), 1 + WalkLimits::kMaxLogLinesPerFile + 1 + 3);
  EXPECT_EQ(lines.front(), "Repairing file " + path);
  EXPECT_EQ(Count(lines, kCcd), WalkLimits::kMaxLogLinesPerFile);
  EXPECT_EQ(lines[1 + WalkLimits::kMaxLogLinesPerFile], "Further lines of this file are omitted.");
  // The true end was walked after the cap: its flags made the search succeed.
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{"Found filesize as: " + std::to_string(trueSize), "Old filesize was:  " + std::to_string(file.size()),
                   "Successfully repaired file."}));
}

TEST(BoundedLog, TheCapCountsPerFile) {
  ScratchFolder dir;
  const std::string first = dir.Write("first.crw", FileWithManyLoggingWalks(WalkLimits::kMaxLogLinesPerFile + 1));
  const std::string second = dir.Write("second.crw", FileWithManyLoggingWalks(WalkLimits::kMaxLogLinesPerFile + 1));
  Analysis analysis;
  EXPECT_TRUE(analysis.Repair(first));
  EXPECT_TRUE(analysis.Repair(second));
  const Lines& lines = analysis.Lines();
  EXPECT_EQ(Count(lines, "Further lines of this file are omitted."), 2);
  EXPECT_EQ(Count(lines, kCcd), 2 * WalkLimits::kMaxLogLinesPerFile);
  EXPECT_EQ(Count(lines, "Successfully repaired file."), 2);
}

TEST(BoundedLog, ExactlyTheCapIsShownInFull) {
  // The true end's walk adds seven lines, the last of them the model.
  ScratchFolder dir;
  Analysis full;
  EXPECT_TRUE(full.Repair(dir.Write("full.crw", FileWithManyLoggingWalks(WalkLimits::kMaxLogLinesPerFile - 7))));
  EXPECT_EQ(full.Lines().size(), 1 + WalkLimits::kMaxLogLinesPerFile + 3);
  EXPECT_EQ(full.Lines()[WalkLimits::kMaxLogLinesPerFile], "Model: Canon EOS D60");

  Analysis over;
  EXPECT_TRUE(over.Repair(dir.Write("over.crw", FileWithManyLoggingWalks(WalkLimits::kMaxLogLinesPerFile - 6))));
  EXPECT_EQ(over.Lines().size(), 1 + WalkLimits::kMaxLogLinesPerFile + 1 + 3);
  EXPECT_EQ(over.Lines()[WalkLimits::kMaxLogLinesPerFile], "Make: Canon");
  EXPECT_EQ(over.Lines()[WalkLimits::kMaxLogLinesPerFile + 1], "Further lines of this file are omitted.");
}

// ---------------------------------------------------------------- remembered walks

class RememberedWalks : public ::testing::TestWithParam<bool> {
 protected:
  bool big() const { return GetParam(); }

  // A camera file without thumbnail, then junk with `copies` copies each of two
  // decoy directories P and Q, and a tail that leads the search to P, Q, P, ...
  // (2 * rounds + 1 walks). With one copy each, every walk after the first two
  // is a replay; with more copies than walks are remembered, every walk is real.
  Bytes File(int copies, int rounds) const {
    CameraFileOptions options;
    options.bigEndian = big();
    options.hasThumbnail = false;
    Bytes file = MakeCameraFile(options);
    DecoyJunk junk(file, big());

    HeapBuilder properties;
    properties.Record(0x080A, MakeModelRecord("Decoy", "Replay"))
        .Record(0x102A, ShotInfoRecord(2, big()))
        .Record(0x1031, SensorInfoRecord(640, 480, big()));
    const Bytes heap = properties.Build(big());
    const std::uint32_t heapAt = junk.Place(heap);
    const auto heapSize = static_cast<std::uint32_t>(heap.size());

    std::vector<std::uint32_t> p;
    std::vector<std::uint32_t> q;
    for (int i = 0; i < copies; ++i) {
      p.push_back(junk.Directory({{0x2005, 1, 0}, {0x300A, heapSize, heapAt}, {0x2007, 33, 0}}));
      q.push_back(junk.Directory({{0x2007, 44, 8}, {0x2005, 1, 0}, {0x0001, 0, 0}, {0x2005, 1, 0}}));
    }
    std::vector<std::uint32_t> tail;
    for (int i = 0; i < rounds; ++i) {
      tail.push_back(p[static_cast<std::size_t>(i % copies)]);
      tail.push_back(q[static_cast<std::size_t>(i % copies)]);
    }
    tail.push_back(p[static_cast<std::size_t>(rounds % copies)]);
    junk.Tail(tail);
    return file;
  }
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, RememberedWalks, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

TEST_P(RememberedWalks, AReplayedWalkLooksExactlyLikeAWalkAgain) {
  const int copies = static_cast<int>(WalkLimits::kRememberedWalks) + 1;
  const int rounds = 3 * copies;
  const Bytes walkedAgain = File(copies, rounds);
  const Bytes replayed = File(1, rounds);
  ASSERT_EQ(walkedAgain.size(), replayed.size() + (copies - 1) * 2 * 256);

  ScratchFolder dir;
  Analysis real;
  Analysis memo;
  ASSERT_TRUE(real.Repair(dir.Write("walked-again.crw", walkedAgain)));
  ASSERT_TRUE(memo.Repair(dir.Write("replayed.crw", replayed)));

  Lines realLines = real.Lines();
  Lines memoLines = memo.Lines();
  realLines.front() = memoLines.front() = "Repairing file";
  realLines[realLines.size() - 2] = memoLines[memoLines.size() - 2] = "Old filesize was:";
  EXPECT_EQ(Joined(memoLines), Joined(realLines));
  EXPECT_EQ(Count(memoLines, "Make: Decoy"), rounds + 1);
  EXPECT_EQ(Count(memoLines, kCcd), 2 * rounds + 2);
  EXPECT_EQ(memoLines.back(), "Successfully repaired file.");

  // The last real walk was of Q; the last walk before the true end, a replay
  // of P, met P's thumbnail; the true end's own walk met none, and only it
  // speaks for the file, walked or replayed alike.
  EXPECT_EQ(memo.state.JPEGStart, 0u);
  EXPECT_FALSE(memo.state.FoundJPEG);
  EXPECT_EQ(real.state.JPEGStart, memo.state.JPEGStart);
  EXPECT_EQ(real.state.FoundJPEG, memo.state.FoundJPEG);
  EXPECT_EQ(real.state.FFilesize, memo.state.FFilesize);
}

TEST_P(RememberedWalks, EveryCandidateOfAZeroTailWalksTheDirectoryAtTheHeapStart) {
  // Raw data that begins like a directory: a tail of zeros points every
  // candidate at it.
  HeapBuilder exif;
  exif.Record(0x1031, SensorInfoRecord(3072, 2048, big())).Record(0x1835, Filler(8, 0x44));
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D30"));
  Bytes raw = DirectoryBytes({{0x2007, 5, 0}, {0x2005, 1, 0}}, big());
  raw.resize(512, 0x5A);
  CrwFile crw;
  crw.bigEndian = big();
  crw.root.Record(0x2005, raw).SubHeap(0x300B, exif).SubHeap(0x2807, camera);
  Bytes file = crw.Build();
  const std::size_t trueSize = file.size();
  AppendJunk(file, JunkKind::kZeros, 3000);

  std::size_t zeroPointers = 0;
  for (std::size_t candidate = trueSize + 1; candidate <= file.size(); ++candidate) {
    zeroPointers += std::all_of(file.begin() + static_cast<std::ptrdiff_t>(candidate - 4),
                                file.begin() + static_cast<std::ptrdiff_t>(candidate), [](auto b) { return b == 0; });
  }
  ScratchFolder dir;
  Analysis analysis;
  ASSERT_TRUE(analysis.Repair(dir.Write("zeros.crw", file)));
  EXPECT_GE(zeroPointers, 2997u);
  EXPECT_EQ(Count(analysis.Lines(), "JPEG thumbnail found"), static_cast<long>(zeroPointers));
  EXPECT_EQ(Count(analysis.Lines(), kCcd), static_cast<long>(zeroPointers + 1));
  EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(trueSize));
  // The replays met a thumbnail record in the raw data; the true end's walk did not.
  EXPECT_EQ(analysis.state.JPEGStart, 0u);
  EXPECT_FALSE(analysis.state.FoundJPEG);
}

// ---------------------------------------------------------------- bounded walks

// Walks the root heap of bytes once, as the first candidate would.
Lines ScanOnce(const Bytes& bytes, HeadlessPlatform& platform) {
  AnalysisState state;
  LogLines log;
  RepairContext context{state, log, platform};
  FileImage image;
  image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  HeapWalker walker(context, image);
  walker.ScanHeap(kRootStart, static_cast<std::int64_t>(bytes.size()) - kRootStart);
  return log.Lines();
}

TEST(BoundedWalks, AHeapThatContainsItselfEndsAtTheDepthBound) {
  const auto build = [](std::uint32_t rootLength) {
    CrwFile file;
    file.root.Record(0x2005, Filler(1, 0)).Entry(0x300A, rootLength, 0);
    return file.Build();
  };
  const Bytes bytes = build(static_cast<std::uint32_t>(build(0).size()) - kRootStart);
  HeadlessPlatform platform;
  EXPECT_EQ(ScanOnce(bytes, platform), Lines(WalkLimits::kMaxHeapDepth + 1, kCcd));
}

TEST(BoundedWalks, TwoHeapsThatContainEachOtherEndAtTheDepthBound) {
  // The sub-heap's entry names its parent, the root.
  const auto build = [](std::uint32_t rootLength) {
    HeapBuilder child;
    child.Record(0x2007, Filler(1, 0)).Entry(0x2804, rootLength, static_cast<std::uint32_t>(-1));
    CrwFile file;
    file.root.Record(0x2005, Filler(1, 0)).SubHeap(0x300A, child);
    return file;
  };
  // The child starts one byte into the root heap: offset -1 (wrapping) is the root.
  const Bytes bytes = build(static_cast<std::uint32_t>(build(0).Build().size()) - kRootStart).Build();
  HeadlessPlatform platform;
  const Lines lines = ScanOnce(bytes, platform);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(WalkLimits::kMaxHeapDepth + 1));
  for (std::size_t depth = 0; depth < lines.size(); ++depth) {
    EXPECT_EQ(lines[depth], depth % 2 == 0 ? kCcd : "JPEG thumbnail found") << depth;
  }
}

TEST(BoundedWalks, AFanOutAfterTheGenuineRecordsIsCutShortAndKeepsThem) {
  HeapBuilder exif;
  exif.Record(0x102A, ShotInfoRecord(1, false))
      .Record(0x1031, SensorInfoRecord(3072, 2048, false))
      .Record(0x1835, Filler(64, 0x44));
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60"));
  HeapBuilder properties;
  properties.SubHeap(0x300B, exif).SubHeap(0x2807, camera);
  CrwFile crw;
  crw.root.Record(0x2005, Filler(1024, 0x5A))
      .Record(0x2007, Filler(64, 0xD8))
      .SubHeap(0x300A, properties)
      .SubHeap(0x300C, FanOut(false, true));
  const Bytes file = crw.Build();
  ScratchFolder dir;
  const std::string path = dir.Write("fan-out.crw", file);
  Analysis analysis;
  EXPECT_TRUE(analysis.Repair(path));

  // The genuine records come first and stay; the fan-out is cut short by the
  // bounds of one root walk (sub-heaps entered, entries visited), whichever
  // comes first; the search still succeeds at the file's own size.
  const Lines genuine{"Repairing file " + path, kCcd, "JPEG thumbnail found", "White Balance: Daylight",
                      "Height: 2048", "Width: 3072", "Make: Canon", "Model: Canon EOS D60"};
  const Lines report{"Found filesize as: " + std::to_string(file.size()),
                     "Old filesize was:  " + std::to_string(file.size()), "Successfully repaired file."};
  const Lines& lines = analysis.Lines();
  ASSERT_GT(lines.size(), genuine.size() + report.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(genuine.size())), genuine);
  EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(report.size()), lines.end()), report);
  const Lines fanOut(lines.begin() + static_cast<std::ptrdiff_t>(genuine.size()),
                     lines.end() - static_cast<std::ptrdiff_t>(report.size()));
  EXPECT_EQ(fanOut, Lines(fanOut.size(), kCcd));
  // One line per fan-out heap entered: three genuine sub-heaps were entered first.
  EXPECT_LE(fanOut.size(), static_cast<std::size_t>(WalkLimits::kMaxSubHeapsPerRootWalk - 3));
  // Without a bound the self-naming fan-out would enter heaps down to the depth
  // bound and then 255 more at each level.
  EXPECT_GE(fanOut.size(), static_cast<std::size_t>(WalkLimits::kMaxHeapDepth));
}

TEST(BoundedWalks, TheEntriesOfOneFileAreBoundedOverAllItsCandidates) {
  // More distinct fan-out directories than are remembered, so every candidate
  // of the tail really walks, each as far as the bound of one root walk allows.
  Bytes file = MakeCameraFile();
  DecoyJunk junk(file, false);
  const Bytes fanOut = FanOut(false, false).Build(false);
  const std::uint32_t fanOutAt = junk.Place(fanOut);
  std::vector<std::uint32_t> directories;
  for (std::size_t i = 0; i <= WalkLimits::kRememberedWalks; ++i) {
    directories.push_back(junk.Directory({{0x300B, static_cast<std::uint32_t>(fanOut.size()), fanOutAt}}));
  }
  const std::size_t walks = 2 * WalkLimits::kMaxEntriesPerFile / WalkLimits::kMaxEntriesPerRootWalk;
  std::vector<std::uint32_t> tail;
  for (std::size_t i = 0; i < walks; ++i) tail.push_back(directories[i % directories.size()]);
  junk.Tail(tail);

  ScratchFolder dir;
  const std::string path = dir.Write("fan-out-tail.crw", file);
  std::int64_t polls = 0;
  ScriptedPlatform platform;
  platform.onEvents = [&] { ++polls; };
  Analysis analysis(platform);
  EXPECT_TRUE(analysis.Repair(path));

  // One unit of work per candidate and per entry visited.
  const auto candidates = static_cast<std::int64_t>(file.size());
  const std::int64_t units = polls * Platform::kWorkUnitsPerClockCheck;
  EXPECT_GE(units, WalkLimits::kMaxEntriesPerFile - Platform::kWorkUnitsPerClockCheck);
  EXPECT_LE(units, WalkLimits::kMaxEntriesPerFile + candidates);
  // Spent before the true end: its walk stops at its first entry, as every
  // walk after the bound does, so the file's own records are not met.
  EXPECT_EQ(analysis.Lines(), (Lines{"Repairing file " + path, "Found filesize as: 27",
                                     "Old filesize was:  " + std::to_string(file.size())}));
}

TEST(BoundedWalks, NameBytesScannedPerFileAreBounded) {
  // Make strings of a megabyte with no zero: each walk of a decoy scans them all.
  const std::size_t makeLength = std::size_t{1} << 20;
  Bytes file = MakeCameraFile();
  DecoyJunk junk(file, false);
  std::vector<std::uint32_t> directories;
  for (std::size_t i = 0; i <= WalkLimits::kRememberedWalks; ++i) directories.push_back(junk.Directory({{0x080A, 1, 0}}));
  Bytes names(makeLength + 3, 'Z');
  names[makeLength] = 0;
  names[makeLength + 1] = 'M';
  names[makeLength + 2] = 0;
  const std::uint32_t namesAt = junk.Place(names);
  for (const std::uint32_t directory : directories) {
    Bytes offset;
    Put32(offset, namesAt, false);
    PlaceAt(file, kRootStart + directory + 2 + 2 + 4, offset);  // the entry's offset field
  }
  const std::size_t walksWithinBudget = WalkLimits::kMaxNameBytesPerFile / (makeLength + 1);
  std::vector<std::uint32_t> tail;
  for (std::size_t i = 0; i < walksWithinBudget + 50; ++i) tail.push_back(directories[i % directories.size()]);
  junk.Tail(tail);

  ScratchFolder dir;
  Analysis analysis;
  EXPECT_TRUE(analysis.Repair(dir.Write("long-names.crw", file)));
  const long makes = CountPrefix(analysis.Lines(), "Make: ");
  EXPECT_GE(makes, static_cast<long>(walksWithinBudget) - 1);
  EXPECT_LE(makes, static_cast<long>(walksWithinBudget) + 1);
  EXPECT_EQ(CountPrefix(analysis.Lines(), "Make: ZZZZ"), makes);
}

}  // namespace
}  // namespace mendrake::testing
