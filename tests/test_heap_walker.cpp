#include "analysis/HeapWalker.h"
#include "analysis/Windows1252.h"
#include "tests/support/AnalysisHarness.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mendrake::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kCcd = "CCD data found";
const std::string kThumbnail = "JPEG thumbnail found";

Bytes Dword(std::uint32_t value, bool bigEndian) {
  Bytes bytes;
  Put32(bytes, value, bigEndian);
  return bytes;
}

// Each walker test runs in both byte orders.
class Walker : public ::testing::TestWithParam<bool> {
 protected:
  bool big() const { return GetParam(); }

  // One call of ScanHeap on a fresh walker over bytes; the lines it appended.
  Lines Scan(const Bytes& bytes, std::int64_t start, std::int64_t length) {
    image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    state.BigEndian = big();
    log.Clear();
    HeapWalker walker(context, image);
    walker.ScanHeap(start, length);
    return log.Lines();
  }

  // The root heap of a built file, with extra bytes after the file's end.
  Lines ScanRoot(const CrwFile& file, const Bytes& after = {}) {
    Bytes bytes = file.Build();
    const auto heapLength = static_cast<std::int64_t>(bytes.size()) - file.headerLength;
    bytes.insert(bytes.end(), after.begin(), after.end());
    return Scan(bytes, file.headerLength, heapLength);
  }

  CrwFile File() const {
    CrwFile file;
    file.bigEndian = big();
    return file;
  }

  // A 64-byte image with a directory at directoryAt and the pointer to it
  // (relative to start) at pointerAt.
  Bytes Image(std::size_t directoryAt, const Bytes& directory, std::size_t pointerAt, std::uint32_t pointer) const {
    Bytes bytes(64, 0);
    PlaceAt(bytes, directoryAt, directory);
    PlaceAt(bytes, pointerAt, Dword(pointer, big()));
    return bytes;
  }

  AnalysisState state;
  LogLines log;
  HeadlessPlatform platform;
  RepairContext context{state, log, platform};
  FileImage image;
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, Walker, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

// ---------------------------------------------------------------- directory position
// The directory pointer sits at E = S + L - 4; the directory at P = S + D.
// Both must lie above the 14 header bytes and inside the image.

using DirectoryChecks = Walker;
INSTANTIATE_TEST_SUITE_P(ByteOrders, DirectoryChecks, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

TEST_P(DirectoryChecks, PointerAt15IsReadAndAt14IsNot) {
  const Bytes directory = DirectoryBytes({{0x2005, 1, 40}}, big());
  EXPECT_EQ(Scan(Image(30, directory, 15, 30), 0, 19), Lines{kCcd});
  EXPECT_EQ(Scan(Image(30, directory, 14, 30), 0, 18), Lines{});
}

TEST_P(DirectoryChecks, PointerMustHaveAllFourBytesInsideTheImage) {
  const Bytes directory = DirectoryBytes({{0x2005, 1, 40}}, big());
  EXPECT_EQ(Scan(Image(30, directory, 60, 30), 0, 64), Lines{kCcd});

  // Three bytes that would read as 30 if a short read counted.
  Bytes cut = Image(30, directory, 0, 0);
  PlaceAt(cut, 61, Bytes{30, 0, 0});
  EXPECT_EQ(Scan(cut, 0, 65), Lines{});
  EXPECT_EQ(Scan(cut, 0, 68), Lines{});
  EXPECT_EQ(Scan(cut, 0, std::int64_t{1} << 40), Lines{});
  EXPECT_EQ(Scan(cut, 0, 2), Lines{});
  EXPECT_EQ(Scan(cut, 0, 0), Lines{});
}

TEST_P(DirectoryChecks, DirectoryAt15IsWalkedAndAt14IsNot) {
  EXPECT_EQ(Scan(Image(15, DirectoryBytes({{0x2005, 1, 40}}, big()), 60, 15), 0, 64), Lines{kCcd});
  EXPECT_EQ(Scan(Image(14, DirectoryBytes({{0x2005, 1, 40}}, big()), 60, 14), 0, 64), Lines{});
}

TEST_P(DirectoryChecks, DirectoryAtOrPastTheEndIsNotWalked) {
  const Bytes directory = DirectoryBytes({{0x2005, 1, 40}}, big());
  EXPECT_EQ(Scan(Image(30, directory, 60, 64), 0, 64), Lines{});
  EXPECT_EQ(Scan(Image(30, directory, 60, 0xFFFFFFFFu), 0, 64), Lines{});
  // Room for the count but not for the entry it announces.
  Bytes cut = Image(30, directory, 56, 62);
  PlaceAt(cut, 62, Bytes(big() ? Bytes{0, 1} : Bytes{1, 0}));
  EXPECT_EQ(Scan(cut, 0, 60), Lines{});
}

TEST_P(DirectoryChecks, DirectoryPositionIsSummedIn64Bits) {
  // Heap at 40; a pointer of 2^32 - 10 would wrap to the directory at 30 in 32 bits.
  Bytes bytes = Image(30, DirectoryBytes({{0x2005, 1, 0}}, big()), 60, 0xFFFFFFF6u);
  EXPECT_EQ(Scan(bytes, 40, 24), Lines{});
  PlaceAt(bytes, 45, DirectoryBytes({{0x2005, 1, 0}}, big()));
  PlaceAt(bytes, 60, Dword(5, big()));
  EXPECT_EQ(Scan(bytes, 40, 24), Lines{kCcd});
}

// ---------------------------------------------------------------- entry count

TEST_P(DirectoryChecks, NoEntriesIsRejected) {
  Bytes bytes = Image(30, DirectoryBytes({{0x2005, 1, 40}}, big()), 60, 30);
  PlaceAt(bytes, 30, Bytes{0, 0});
  EXPECT_EQ(Scan(bytes, 0, 64), Lines{});
}

TEST_P(DirectoryChecks, TwoHundredFiftySixEntriesAreWalkedToTheLast) {
  std::vector<DirectoryEntry> entries(255, DirectoryEntry{0x5000, 7, 7});
  entries.push_back({0x2005, 1, 20});
  Bytes bytes(30, 0);
  PlaceAt(bytes, 30, DirectoryBytes(entries, big()));
  const std::size_t pointerAt = bytes.size();
  PlaceAt(bytes, pointerAt, Dword(30, big()));
  EXPECT_EQ(Scan(bytes, 0, static_cast<std::int64_t>(bytes.size())), Lines{kCcd});
}

TEST_P(DirectoryChecks, TwoHundredFiftySevenEntriesAreRejected) {
  std::vector<DirectoryEntry> entries(256, DirectoryEntry{0x2005, 1, 20});
  entries.push_back({0x2005, 1, 20});
  Bytes bytes(30, 0);
  PlaceAt(bytes, 30, DirectoryBytes(entries, big()));
  const std::size_t pointerAt = bytes.size();
  PlaceAt(bytes, pointerAt, Dword(30, big()));
  EXPECT_EQ(Scan(bytes, 0, static_cast<std::int64_t>(bytes.size())), Lines{});
}

// ---------------------------------------------------------------- entries

TEST_P(DirectoryChecks, ASizeOfZeroEndsTheDirectoryEvenForAnIgnoredTag) {
  const auto walk = [&](std::uint16_t tag, std::uint32_t size) {
    return Scan(Image(20, DirectoryBytes({{tag, size, 40}, {0x2005, 1, 40}}, big()), 60, 20), 0, 64);
  };
  EXPECT_EQ(walk(0x0001, 0), Lines{});
  EXPECT_EQ(walk(0x3FFF, 0), Lines{});
  EXPECT_EQ(walk(0x0001, 1), Lines{kCcd});
  // From 0x4000 on the entry holds its data: there is no size to test.
  EXPECT_EQ(walk(0x4000, 0), Lines{kCcd});
}

TEST_P(DirectoryChecks, DataPositionMustLieAbove14AndInsideTheImage) {
  const auto walk = [&](std::uint32_t offset) {
    return Scan(Image(20, DirectoryBytes({{0x0001, 1, offset}, {0x2005, 1, 40}}, big()), 60, 20), 0, 64);
  };
  EXPECT_EQ(walk(14), Lines{});
  EXPECT_EQ(walk(15), Lines{kCcd});
  EXPECT_EQ(walk(63), Lines{kCcd});
  EXPECT_EQ(walk(64), Lines{});
  EXPECT_EQ(walk(0x80000000u), Lines{});
}

TEST_P(DirectoryChecks, DataPositionWrapsIn32Bits) {
  // Heap at 40: an offset of 2^32 - 20 lands on 20.
  const Bytes bytes = Image(45, DirectoryBytes({{0x2007, 9, 0xFFFFFFECu}}, big()), 60, 5);
  EXPECT_EQ(Scan(bytes, 40, 24), Lines{kThumbnail});
  EXPECT_EQ(state.JPEGStart, 20u);
  EXPECT_EQ(state.JPEGSize, 9u);
}

TEST_P(DirectoryChecks, AnEntryCutByTheImageEndStopsQuietly) {
  Bytes bytes = Image(50, DirectoryBytes({{0x2005, 1, 40}, {0x2005, 1, 40}}, big()), 16, 50);
  bytes.resize(62 + 5);  // count, one whole entry, half of the next
  EXPECT_EQ(Scan(bytes, 0, 20), Lines{kCcd});
}

// ---------------------------------------------------------------- tags

TEST_P(Walker, SubHeapsAreTheTagsWithHighByte28Or30) {
  HeapBuilder inner;
  inner.Record(0x2005, Filler(8, 0x5A));
  for (std::uint16_t tag : {0x2800, 0x2804, 0x28FF, 0x3000, 0x300A, 0x30FF}) {
    CrwFile file = File();
    file.root.SubHeap(tag, inner);
    EXPECT_EQ(ScanRoot(file), Lines{kCcd}) << std::hex << tag;
  }
  for (std::uint16_t tag : {0x27FF, 0x2900, 0x2FFF, 0x3100, 0x6800, 0x7000, 0xA800}) {
    CrwFile file = File();
    file.root.SubHeap(tag, inner);
    EXPECT_EQ(ScanRoot(file), Lines{}) << std::hex << tag;
  }
}

TEST_P(Walker, TagsAreComparedAsWhole16BitValues) {
  CrwFile file = File();
  file.root.Record(0x480A, MakeModelRecord("Canon", "X"))
      .Record(0x0805, MakeModelRecord("Canon", "X"))
      .Record(0x6005, Filler(4, 0))
      .Record(0x2105, Filler(4, 0))
      .Record(0x2006, Filler(4, 0))
      .Record(0x5835, Filler(4, 0))
      .Record(0x0A08, Filler(4, 0));
  EXPECT_EQ(ScanRoot(file), Lines{});
  EXPECT_FALSE(state.FoundName || state.FoundDATA || state.FoundJPEG || state.FoundTable || state.FoundSize);
}

TEST_P(Walker, InlineEntriesAreSkippedWhateverTheyHold) {
  CrwFile file = File();
  file.root.Inline(0x5817, 0, 0).Inline(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF).Record(0x2005, Filler(4, 0));
  EXPECT_EQ(ScanRoot(file), Lines{kCcd});
}

// ---------------------------------------------------------------- records

TEST_P(Walker, RecordsSetTheirFlagsAndLogInDirectoryOrder) {
  CrwFile file = File();
  file.root.Record(0x1835, Filler(16, 0x44))
      .Record(0x2007, Filler(100, 0xD8))
      .Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60"))
      .Record(0x1031, SensorInfoRecord(3072, 2048, big()))
      .Record(0x102A, ShotInfoRecord(2, big()))
      .Record(0x2005, Filler(64, 0x5A));
  EXPECT_EQ(ScanRoot(file), (Lines{kThumbnail, "Make: Canon", "Model: Canon EOS D60", "Height: 2048", "Width: 3072",
                                   "White Balance: Cloudy", kCcd}));
  EXPECT_TRUE(state.FoundTable);
  EXPECT_TRUE(state.FoundJPEG);
  EXPECT_TRUE(state.FoundName);
  EXPECT_TRUE(state.FoundSize);
  EXPECT_TRUE(state.FoundDATA);
  EXPECT_EQ(state.JPEGStart, 26u + 16u);
  EXPECT_EQ(state.JPEGSize, 100u);
}

TEST_P(Walker, TheDecoderTableLogsNothing) {
  CrwFile file = File();
  file.root.Record(0x1835, Filler(16, 0x44));
  EXPECT_EQ(ScanRoot(file), Lines{});
  EXPECT_TRUE(state.FoundTable);
}

TEST_P(Walker, TheLastThumbnailRecordWins) {
  CrwFile file = File();
  file.root.Record(0x2007, Filler(100, 0xD8)).Record(0x2007, Filler(30, 0xD9));
  EXPECT_EQ(ScanRoot(file), (Lines{kThumbnail, kThumbnail}));
  EXPECT_EQ(state.JPEGStart, 26u + 100u);
  EXPECT_EQ(state.JPEGSize, 30u);
}

TEST_P(Walker, AThumbnailSizeIsTakenAsItStandsEvenPastTheImage) {
  CrwFile file = File();
  file.root.Entry(0x2007, 0x7FFFFFF0u, 0);
  EXPECT_EQ(ScanRoot(file), Lines{kThumbnail});
  EXPECT_EQ(state.JPEGStart, 26u);
  EXPECT_EQ(state.JPEGSize, 0x7FFFFFF0u);
}

TEST_P(Walker, TheWalkClearsNoFlagAndNoThumbnail) {
  state.FoundName = state.FoundJPEG = state.FoundDATA = state.FoundTable = state.FoundSize = true;
  state.JPEGStart = 99;
  state.JPEGSize = 77;
  CrwFile file = File();
  file.root.Record(0x0001, Filler(4, 0));
  EXPECT_EQ(ScanRoot(file), Lines{});
  EXPECT_TRUE(state.FoundName && state.FoundJPEG && state.FoundDATA && state.FoundTable && state.FoundSize);
  EXPECT_EQ(state.JPEGStart, 99u);
  EXPECT_EQ(state.JPEGSize, 77u);
}

TEST_P(Walker, EveryWalkSetsTheFoundSizeToZeroEvenWhenItStopsAtOnce) {
  state.FFilesize = 1234;
  Scan(Bytes(64, 0), 0, 2);
  EXPECT_EQ(state.FFilesize, 0);
}

TEST_P(Walker, TheImageIsNotChanged) {
  CameraFileOptions options;
  options.bigEndian = big();
  const Bytes bytes = MakeCameraFile(options);
  Scan(bytes, 26, static_cast<std::int64_t>(bytes.size()) - 26);
  EXPECT_EQ(Bytes(image.Data(), image.Data() + image.Size()), bytes);
}

// ---------------------------------------------------------------- make and model

TEST_P(Walker, MakeAndModelAreTwoZeroTerminatedStringsNotBoundByTheRecordSize) {
  CrwFile file = File();
  file.root.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60"));
  // Declare one byte: the strings run on to their zeros regardless.
  CrwFile declaredShort = File();
  declaredShort.root.Entry(0x080A, 1, 0).Record(0x0001, MakeModelRecord("Canon", "Canon EOS D60"));
  EXPECT_EQ(ScanRoot(file), (Lines{"Make: Canon", "Model: Canon EOS D60"}));
  EXPECT_EQ(ScanRoot(declaredShort), (Lines{"Make: Canon", "Model: Canon EOS D60"}));
  EXPECT_TRUE(state.FoundName);
}

TEST_P(Walker, AMakeRunningToTheImageEndLeavesAnEmptyModel) {
  // Directory at 20, pointer at 50, make from 54 to the end with no zero.
  Bytes bytes(54, 0);
  PlaceAt(bytes, 20, DirectoryBytes({{0x080A, 1, 54}}, big()));
  PlaceAt(bytes, 50, Dword(20, big()));
  const std::string make = "Canon";
  bytes.insert(bytes.end(), make.begin(), make.end());
  EXPECT_EQ(Scan(bytes, 0, 54), (Lines{"Make: Canon", "Model: "}));
  EXPECT_TRUE(state.FoundName);

  bytes.push_back(0);
  const std::string model = "EOS";
  bytes.insert(bytes.end(), model.begin(), model.end());
  EXPECT_EQ(Scan(bytes, 0, 54), (Lines{"Make: Canon", "Model: EOS"}));
}

TEST_P(Walker, MakeAndModelAreDecodedFromWindows1252) {
  CrwFile file = File();
  file.root.Record(0x080A, MakeModelRecord("Caf\xE9 \x80\x99", "\x81\x9F\xFF\x8A"));
  EXPECT_EQ(ScanRoot(file), (Lines{"Make: Caf\u00E9 \u20AC\u2122", "Model: \u0081\u0178\u00FF\u0160"}));
}

TEST_P(Walker, ControlBytesOfMakeAndModelAreShownEscaped) {
  CrwFile file = File();
  file.root.Record(0x080A, MakeModelRecord("Ca\nn\x1B", "\x01\r\t\x1F\x7F \\x41 \xE9"));
  EXPECT_EQ(ScanRoot(file), (Lines{"Make: Ca\\x0An\\x1B", "Model: \\x01\\x0D\\x09\\x1F\\x7F \\x41 \u00E9"}));
}

TEST_P(Walker, AnOverlongNameIsShownCutWithAnEllipsis) {
  const std::size_t shown = WalkLimits::kMaxNameShown;
  CrwFile file = File();
  file.root.Record(0x080A, MakeModelRecord(std::string(shown, 'A'), std::string(shown + 1, 'B')))
      .Record(0x080A, MakeModelRecord(std::string(3 * shown, '\xE9'), "x"));
  EXPECT_EQ(ScanRoot(file), (Lines{"Make: " + std::string(shown, 'A'), "Model: " + std::string(shown, 'B') + "\u2026",
                                   "Make: " + Windows1252ToUtf8(std::string(shown, '\xE9')) + "\u2026", "Model: x"}));
}

TEST(Windows1252, MapsTheHighControlsAndLatin1AndLeavesAsciiAlone) {
  EXPECT_EQ(Windows1252ToUtf8("Canon EOS-1D"), "Canon EOS-1D");
  EXPECT_EQ(Windows1252ToUtf8("\x80\x85\x9C\x9F"), "\u20AC\u2026\u0153\u0178");
  EXPECT_EQ(Windows1252ToUtf8("\xA0\xC4\xFF"), "\u00A0\u00C4\u00FF");
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(Windows1252ToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

// ---------------------------------------------------------------- white balance

TEST_P(Walker, WhiteBalanceNamesValuesZeroToTwoOnly) {
  const char* names[] = {"White Balance: Auto", "White Balance: Daylight", "White Balance: Cloudy"};
  for (std::uint16_t value = 0; value < 3; ++value) {
    CrwFile file = File();
    file.root.Record(0x102A, ShotInfoRecord(value, big()));
    EXPECT_EQ(ScanRoot(file), Lines{names[value]});
  }
  for (std::uint16_t value : {3, 0x0100, 0x0200, 0xFFFF}) {
    CrwFile file = File();
    file.root.Record(0x102A, ShotInfoRecord(value, big())).Record(0x2005, Filler(1, 0));
    EXPECT_EQ(ScanRoot(file), Lines{kCcd}) << value;
  }
}

TEST_P(Walker, WhiteBalancePastTheImageEndIsAutoForTheFirstRecord) {
  CrwFile file = File();
  file.root.Entry(0x102A, 1, 0);  // offset set below
  const auto size = static_cast<std::uint32_t>(file.Build().size());
  file = File();
  file.root.Entry(0x102A, 1, size - 1 - file.headerLength);
  EXPECT_EQ(ScanRoot(file), Lines{"White Balance: Auto"});
}

TEST_P(Walker, WhiteBalanceInTheLastByteIsReadUnswapped) {
  // Offset 14 of the record is the image's last byte, holding 1.
  CrwFile file = File();
  file.root.Entry(0x102A, 1, 0);
  const auto size = static_cast<std::uint32_t>(file.Build().size());
  file = File();
  file.root.Entry(0x102A, 1, size - file.headerLength);
  Bytes after(14, 0xEE);
  after.push_back(1);
  EXPECT_EQ(ScanRoot(file, after), Lines{"White Balance: Daylight"});
}

TEST_P(Walker, WhiteBalanceCarriesFromRecordToRecordWithinOneHeap) {
  CrwFile file = File();
  file.root.Record(0x102A, ShotInfoRecord(1, big())).Entry(0x102A, 1, 0);
  const auto size = static_cast<std::uint32_t>(file.Build().size());
  file = File();
  file.root.Record(0x102A, ShotInfoRecord(1, big())).Entry(0x102A, 1, size - 1 - file.headerLength);
  EXPECT_EQ(ScanRoot(file), (Lines{"White Balance: Daylight", "White Balance: Daylight"}));
}

TEST_P(Walker, AOneByteWhiteBalanceKeepsTheHighByteOfTheLastValue) {
  // 0x0100 names nothing; one more byte of 2 makes 0x0102, still nothing.
  CrwFile file = File();
  file.root.Record(0x102A, ShotInfoRecord(0x0100, big())).Entry(0x102A, 1, 0).Record(0x2005, Filler(1, 0));
  const auto size = static_cast<std::uint32_t>(file.Build().size());
  file = File();
  file.root.Record(0x102A, ShotInfoRecord(0x0100, big()))
      .Entry(0x102A, 1, size - file.headerLength)
      .Record(0x2005, Filler(1, 0));
  Bytes after(14, 0xEE);
  after.push_back(2);
  EXPECT_EQ(ScanRoot(file, after), Lines{kCcd});
}

TEST_P(Walker, EachHeapWalkStartsWithItsOwnWhiteBalanceOfZero) {
  // Root: Daylight; a sub-heap whose record reads nothing (Auto, its own zero);
  // back in the root a record that reads nothing keeps the root's Daylight.
  const auto build = [&](std::uint32_t lastByte) {
    const std::uint32_t innerStart = 26 + 32;  // after the shot record
    HeapBuilder sub;
    sub.Entry(0x102A, 1, lastByte - innerStart);
    CrwFile file = File();
    file.root.Record(0x102A, ShotInfoRecord(1, big())).SubHeap(0x300A, sub).Entry(0x102A, 1, lastByte - 26);
    return file;
  };
  const CrwFile draft = build(0);
  const CrwFile file = build(static_cast<std::uint32_t>(draft.Build().size()) - 1);
  EXPECT_EQ(ScanRoot(file), (Lines{"White Balance: Daylight", "White Balance: Auto", "White Balance: Daylight"}));
}

TEST_P(Walker, EachCallStartsAfreshAndTheSameHeapGivesTheSameLines) {
  const auto build = [&](std::uint32_t lastByte) {
    CrwFile file = File();
    file.root.Entry(0x102A, 1, lastByte - 26).Record(0x102A, ShotInfoRecord(2, big()));
    return file;
  };
  const CrwFile file = build(static_cast<std::uint32_t>(build(0).Build().size()) - 1);
  Bytes bytes = file.Build();
  image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  state.BigEndian = big();
  HeapWalker walker(context, image);
  walker.ScanHeap(26, static_cast<std::int64_t>(bytes.size()) - 26);
  walker.ScanHeap(26, static_cast<std::int64_t>(bytes.size()) - 26);
  EXPECT_EQ(log.Lines(), (Lines{"White Balance: Auto", "White Balance: Cloudy", "White Balance: Auto",
                                "White Balance: Cloudy"}));
}

// ---------------------------------------------------------------- sensor information

TEST_P(Walker, SensorInformationLogsHeightBeforeWidth) {
  CrwFile file = File();
  file.root.Record(0x1031, SensorInfoRecord(3072, 2048, big()));
  EXPECT_EQ(ScanRoot(file), (Lines{"Height: 2048", "Width: 3072"}));
  EXPECT_TRUE(state.FoundSize);
}

TEST_P(Walker, SensorValuesStartAtZeroAndCarryFromRecordToRecord) {
  const auto build = [&](std::uint32_t lastByte) {
    CrwFile file = File();
    file.root.Entry(0x1031, 1, lastByte - 26)
        .Record(0x1031, SensorInfoRecord(3072, 2048, big()))
        .Entry(0x1031, 1, lastByte - 26);
    return file;
  };
  const CrwFile file = build(static_cast<std::uint32_t>(build(0).Build().size()) - 1);
  EXPECT_EQ(ScanRoot(file), (Lines{"Height: 0", "Width: 0", "Height: 2048", "Width: 3072", "Height: 2048",
                                   "Width: 3072"}));
}

TEST_P(Walker, ASensorRecordCutAtTheImageEndKeepsWhatDidNotArrive) {
  // The width arrives whole, the height only its low byte: 0x0800 becomes 0x0807.
  const auto build = [&](std::uint32_t tailStart) {
    CrwFile file = File();
    file.root.Record(0x1031, SensorInfoRecord(3072, 0x0800, big())).Entry(0x1031, 1, tailStart - 2 - 26);
    return file;
  };
  const CrwFile file = build(static_cast<std::uint32_t>(build(0).Build().size()));
  Bytes after;
  Put16(after, 0x1234, big());
  after.push_back(0x07);
  EXPECT_EQ(ScanRoot(file, after), (Lines{"Height: 2048", "Width: 3072", "Height: 2055", "Width: 4660"}));
}

// ---------------------------------------------------------------- sub-heaps

TEST_P(Walker, SubHeapLinesComeWhereTheSubHeapIsListed) {
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord("Canon", "Canon EOS 10D"));
  HeapBuilder properties;
  properties.SubHeap(0x2807, camera).Record(0x102A, ShotInfoRecord(0, big()));
  CrwFile file = File();
  file.root.Record(0x2005, Filler(8, 0)).SubHeap(0x300A, properties).Record(0x2007, Filler(8, 0));
  EXPECT_EQ(ScanRoot(file),
            (Lines{kCcd, "Make: Canon", "Model: Canon EOS 10D", "White Balance: Auto", kThumbnail}));
}

TEST_P(Walker, ASubHeapThatFailsItsChecksDoesNotStopItsParent) {
  HeapBuilder empty;
  empty.Padding(8, 0);  // no entries: its pointer leads to a count of zero
  CrwFile file = File();
  file.root.SubHeap(0x300A, empty)
      .Entry(0x300B, 0xFFFFFFF0u, 0)  // its end lies far past the image
      .Entry(0x2804, 2, 0)            // its pointer would lie before its start
      .Record(0x2005, Filler(8, 0));
  EXPECT_EQ(ScanRoot(file), Lines{kCcd});
  EXPECT_TRUE(state.FoundDATA);
}

TEST_P(Walker, ASubHeapStoppedHalfwayKeepsItsLinesAndTheParentGoesOn) {
  HeapBuilder sub;
  sub.Record(0x080A, MakeModelRecord("Canon", "EOS"))
      .Entry(0x0001, 0, 0)  // size 0: the walk of this heap stops here
      .Record(0x2005, Filler(8, 0));
  CrwFile file = File();
  file.root.SubHeap(0x300A, sub).Record(0x2007, Filler(8, 0));
  EXPECT_EQ(ScanRoot(file), (Lines{"Make: Canon", "Model: EOS", kThumbnail}));
  EXPECT_TRUE(state.FoundName);
  EXPECT_TRUE(state.FoundJPEG);
  EXPECT_FALSE(state.FoundDATA);
}

TEST_P(Walker, ACameraFileNestedThreeDeepGivesEveryRecord) {
  CameraFileOptions options;
  options.bigEndian = big();
  const Bytes bytes = MakeCameraFile(options);
  EXPECT_EQ(Scan(bytes, 26, static_cast<std::int64_t>(bytes.size()) - 26),
            (Lines{kCcd, kThumbnail, "White Balance: Daylight", "Height: 2048", "Width: 3072", "Make: Canon",
                   "Model: Canon EOS D60"}));
  EXPECT_TRUE(AllRequiredRecordsFound(state));
  EXPECT_TRUE(state.FoundJPEG);
  EXPECT_EQ(state.JPEGStart, 26u + 4096u);
  EXPECT_EQ(state.JPEGSize, 512u);
}

}  // namespace
}  // namespace mendrake::testing
