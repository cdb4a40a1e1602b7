// Card recovery against crafted and badly damaged cards: the work per window
// and per card stays within its budget, names come from a counter and never
// run out for good, damaged pieces are bounded, and every file written as a
// CRW stands alone: its own repair finds it whole, with its own thumbnail and
// its own make and model.
#include "files/FileError.h"
#include "files/FreeNames.h"
#include "files/MemoryCardReader.h"
#include "recovery/CardRecovery.h"
#include "recovery/CrwValidation.h"
#include "tests/support/AnalysisHarness.h"
#include "tests/support/FatCard.h"
#include "tests/support/HostileCards.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

struct Recovery {
  RecoverySummary summary;
  LogLines log;
};

Recovery Recover(const Bytes& card, const ScratchFolder& folder, const RecoveryBounds& bounds = {}) {
  Recovery recovery;
  MemoryCardReader reader(card);
  recovery.summary = RecoverCard(reader, folder.path().string(), recovery.log, {}, bounds);
  return recovery;
}

std::vector<std::string> Named(const ScratchFolder& folder, const std::string& extension) {
  std::vector<std::string> names;
  for (const std::string& name : folder.Entries()) {
    if (name.ends_with(extension)) names.push_back(name);
  }
  return names;
}

// What `crwlog NAME.CRW` makes of every CRW file in the folder: its own size,
// "Successfully repaired file.", and every record inside it.
void ExpectEveryCrwStandsAlone(const ScratchFolder& folder) {
  for (const std::string& name : Named(folder, ".CRW")) {
    SCOPED_TRACE(name);
    Analysis analysis;
    ASSERT_TRUE(analysis.Repair(folder / name));
    EXPECT_EQ(analysis.state.FFilesize, static_cast<std::int64_t>(fs::file_size(folder / name)));
    EXPECT_EQ(analysis.Lines().back(), "Successfully repaired file.");
    const Bytes bytes = ReadFile(folder / name);
    EXPECT_TRUE(ValidateRecoveredCrw(bytes, analysis.state.BigEndian, analysis.state.HLen).ok);
  }
}

std::size_t CountContaining(const LogLines& log, const std::string& text) {
  const auto holds = [&](const std::string& line) { return line.find(text) != std::string::npos; };
  return static_cast<std::size_t>(std::count_if(log.Lines().begin(), log.Lines().end(), holds));
}

// The line of the file or piece found at position; damaged pieces are told
// when no end on the card joins them, after the files that followed them.
std::string LineAt(const LogLines& log, std::size_t position) {
  const std::string prefix = "At " + std::to_string(position) + ": ";
  for (const std::string& line : log.Lines()) {
    if (line.starts_with(prefix)) return line;
  }
  return "no line for " + std::to_string(position);
}

// ------------------------------------------------------------- work budget

TEST(HostileCards, CraftedWindowsSpendNoMoreThanTheirShareAndThePhotoAfterThemIsRecovered) {
  ScratchFolder folder;
  Bytes card = FanOutWindowsCard(3 * 300 * 1024);
  const std::size_t photoAt = card.size();
  CameraFileOptions options;
  options.rawDataSize = 20000;
  const Bytes photo = MakeCameraFile(options);
  card.insert(card.end(), photo.begin(), photo.end());

  RecoveryBounds bounds;
  bounds.maxEntriesPerWindow = 5000;  // five walks of a thousand entries
  bounds.cardBytesPerEntry = 1;       // the card earns more than the windows may spend
  const Recovery recovery = Recover(card, folder, bounds);
  EXPECT_LE(recovery.summary.entriesVisited, 4 * bounds.maxEntriesPerWindow);
  EXPECT_GT(recovery.summary.entriesVisited, 3 * bounds.maxEntriesPerWindow - 1000);
  EXPECT_EQ(recovery.summary.recovered, 1);
  EXPECT_EQ(recovery.summary.damaged, 3);
  EXPECT_EQ(CountContaining(recovery.log, "no true end found within its share of the work"), 3u);
  EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), photo);
  EXPECT_EQ(LineAt(recovery.log, photoAt), "At " + std::to_string(photoAt) + ": CRW_0001.CRW, " +
                                               std::to_string(photo.size()) + " bytes, Canon EOS D60");

  // A card that earns little: the windows share one window's share and what
  // the card's bytes earned, whatever each window's own share.
  ScratchFolder other;
  bounds.cardBytesPerEntry = 4096;
  const Recovery earned = Recover(card, other, bounds);
  EXPECT_LE(earned.summary.entriesVisited,
            bounds.maxEntriesPerWindow + static_cast<std::int64_t>(card.size()) / bounds.cardBytesPerEntry);
  EXPECT_GE(CountContaining(earned.log, "no true end found within its share of the work"), 3u);
}

// ------------------------------------------------------------------- names

TEST(HostileCards, PhotosOfOneNameAreNumberedOnFromTheLastNumberTaken) {
  ScratchFolder folder;
  const Recovery recovery = Recover(SameNumberFilesCard(30), folder);
  EXPECT_EQ(recovery.summary.recovered, 30);
  EXPECT_EQ(Named(folder, ".CRW").size(), 30u);
  EXPECT_EQ(Named(folder, ".jpg").size(), 30u);
  EXPECT_TRUE(fs::exists(folder.path() / "CRW_0001 (30).CRW"));
  EXPECT_TRUE(fs::exists(folder.path() / "CRW_0001 (30).jpg"));
  ExpectEveryCrwStandsAlone(folder);
}

TEST(HostileCards, FreeNamesGoOnFromTheirCounterAndNeverTryANumberTwice) {
  ScratchFolder folder;
  const std::string path = folder / "IMG.CRW";
  folder.Write("IMG (2).CRW", {1});
  FreeNames names;
  const auto place = [&](std::uint8_t content) {
    PendingFile file(path);
    file.Write(&content, 1);
    return fs::path(names.Place(file, path)).filename().string();
  };
  EXPECT_EQ(place(10), "IMG.CRW");
  EXPECT_EQ(place(11), "IMG (3).CRW");  // (2) was taken before the run
  fs::remove(folder / "IMG.CRW");
  EXPECT_EQ(place(12), "IMG (4).CRW");  // a number passed is not tried again
  EXPECT_EQ(names.Next(path), 5);
}

TEST(HostileCards, AFileWhoseNamesHaveRunOutTakesTheNameOfItsPlaceAndTheRunGoesOn) {
  ScratchFolder folder;
  const Bytes taken = {0};
  for (int n = 1; n <= kMaxFreeNameNumber; ++n) WriteFile(NumberedName(folder / "CRW_0001.CRW", n), taken);
  const StrayThumbnails photos = StrayThumbnailCard(2);
  Bytes card = photos.card;
  CameraFileOptions options;
  options.whiteBalance = 7;  // with a thumbnail
  const Bytes third = MakeCameraFile(options);
  const std::size_t thirdAt = card.size();
  card.insert(card.end(), third.begin(), third.end());

  const Recovery recovery = Recover(card, folder);
  EXPECT_EQ(recovery.summary.recovered, 3);
  EXPECT_EQ(ReadFile(folder / ("CRW_at_" + std::to_string(photos.at[0]) + ".CRW")), photos.files[0]);
  EXPECT_EQ(ReadFile(folder / ("CRW_at_" + std::to_string(photos.at[1]) + ".CRW")), photos.files[1]);
  EXPECT_EQ(ReadFile(folder / ("CRW_at_" + std::to_string(thirdAt) + ".CRW")), third);
  EXPECT_TRUE(fs::exists(folder.path() / ("CRW_at_" + std::to_string(thirdAt) + ".jpg")));
  EXPECT_EQ(ReadFile(folder / "CRW_0001 (10000).CRW"), taken);
}

TEST(HostileCards, AnOutputFolderThatFailsEndsTheRun) {
  ScratchFolder folder;
  const Bytes card = SameNumberFilesCard(1);  // outlives the reader, which does not copy it
  MemoryCardReader reader(card);
  LogLines log;
  EXPECT_THROW(RecoverCard(reader, folder / "missing", log), FileError);
}

// ---------------------------------------------------------- damaged pieces

TEST(HostileCards, OnlyHeadersAtSectorStartsAreKeptAsDamagedAndOnlyUpToTheBound) {
  ScratchFolder folder;
  const Bytes card = DenseHeadersCard(64 * 1024);  // 4096 headers, 128 at sector starts
  const Recovery recovery = Recover(card, folder);
  EXPECT_EQ(recovery.summary.damaged, 128);
  EXPECT_EQ(Named(folder, ".damaged").size(), 128u);
  EXPECT_TRUE(fs::exists(folder.path() / "CRW_at_512.damaged"));

  ScratchFolder bounded;
  RecoveryBounds bounds;
  bounds.maxDamagedFiles = 10;
  const Recovery few = Recover(card, bounded, bounds);
  EXPECT_EQ(few.summary.damaged, 128);
  EXPECT_EQ(few.summary.damagedNotWritten, 118);
  EXPECT_EQ(bounded.Entries().size(), 10u);
  EXPECT_EQ(CountContaining(few.log, " bytes kept, damaged: "), 10u);  // a line for each piece written
  EXPECT_NE(few.log.Lines().back().find("; 118 damaged pieces counted, not written"), std::string::npos);
}

TEST(HostileCards, AWholeFileAwayFromASectorStartIsRecoveredAndACutOneLeftOut) {
  ScratchFolder folder;
  Bytes card(8192, 0);
  CameraFileOptions options;
  options.rawDataSize = 3000;
  const Bytes photo = MakeCameraFile(options);
  PlaceAt(card, 100, photo);
  PlaceAt(card, 100 + photo.size() + 50, Prefix(photo, 1000));
  const Recovery recovery = Recover(card, folder);
  EXPECT_EQ(recovery.summary.recovered, 1);
  EXPECT_EQ(recovery.summary.damaged, 0);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"CRW_0001.CRW", "CRW_0001.jpg"}));
  EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), photo);
}

// Every file of a card's volume begins at a sector start, so once the volume
// is known no header is looked for elsewhere: of two photos, the one 100 bytes
// into a cluster is not found.
TEST(HostileCards, OnACardWithAVolumeAHeaderIsLookedForAtSectorStartsOnly) {
  ScratchFolder folder;
  const FatCard fat(folder / "card.img", folder.path().string(), 16, 4);
  Bytes card = ReadFile(fat.Path());
  CameraFileOptions options;
  options.rawDataSize = 3000;
  const Bytes atClusterStart = MakeCameraFile(options);
  options.rawDataSize = 3600;
  PlaceAt(card, fat.ClusterStart(10), atClusterStart);
  PlaceAt(card, fat.ClusterStart(20) + 100, MakeCameraFile(options));
  ScratchFolder out;
  const Recovery recovery = Recover(card, out);
  EXPECT_EQ(recovery.summary.recovered, 1);
  EXPECT_EQ(recovery.summary.damaged, 0);
  EXPECT_EQ(ReadFile(out / "CRW_0001.CRW"), atClusterStart);
}

// ------------------------------------------------------ files stand alone

TEST(HostileCards, AFileWhoseRecordsLiePastItsEndIsKeptAsDamagedWithTheReason) {
  ScratchFolder folder;
  const RecordsOutside made = RecordsOutsideCard();
  const Recovery recovery = Recover(made.card, folder);
  EXPECT_EQ(recovery.summary.recovered, 1);
  EXPECT_EQ(recovery.summary.damaged, 1);
  EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), made.whole);
  ASSERT_TRUE(fs::exists(folder.path() / ("CRW_at_" + std::to_string(made.outsideAt) + ".damaged")));
  const std::string line = LineAt(recovery.log, made.outsideAt);
  EXPECT_NE(line.find("was refused: a record (tag 2005, 6000 bytes at "), std::string::npos) << line;
  ExpectEveryCrwStandsAlone(folder);
}

TEST(HostileCards, ThumbnailAndMakeOfARecoveredFileAreItsOwnNotAStrayDirectorysAfterIt) {
  ScratchFolder folder;
  const StrayThumbnails made = StrayThumbnailCard(2);
  const Recovery recovery = Recover(made.card, folder);
  EXPECT_EQ(recovery.summary.recovered, 2);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"CRW_0001 (2).CRW", "CRW_0001.CRW"}));
  EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), made.files[0]);
  EXPECT_EQ(recovery.log.Lines()[0], "At " + std::to_string(made.at[0]) + ": CRW_0001.CRW, " +
                                         std::to_string(made.files[0].size()) + " bytes, Canon EOS D60");
  EXPECT_EQ(CountContaining(recovery.log, kPlantedMake), 0u);
  EXPECT_TRUE(recovery.summary.lastThumbnail.empty());
  ExpectEveryCrwStandsAlone(folder);
}

TEST(HostileCards, ACopyOfTheRootDirectoryInTheRawDataDoesNotCutTheFileShort) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    ScratchFolder folder;
    // The copy 100 KB in, the true end more than a trailer's length past it.
    const Bytes photo = FileWithRootCopyInItsRawData((1 << 20) + 300000, 100000, bigEndian);
    Bytes card(4096, 0);
    card.insert(card.end(), photo.begin(), photo.end());
    AppendJunk(card, JunkKind::kRandom, 20000, 3);
    const Recovery recovery = Recover(card, folder);
    EXPECT_EQ(recovery.summary.recovered, 1);
    EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), photo);
    ExpectEveryCrwStandsAlone(folder);
  }
}

// ------------------------------------------------------------- validation

TEST(CrwValidation, AFileStandsAloneOnlyWhenItsRecordsLieInsideAndItsOwnRepairFindsItWhole) {
  CameraFileOptions options;
  options.bigEndian = true;
  const Bytes photo = MakeCameraFile(options);
  const CrwVerdict whole = ValidateRecoveredCrw(photo, true, 26);
  EXPECT_TRUE(whole.ok) << whole.reason;
  EXPECT_EQ(whole.makeAndModel, "Canon EOS D60");
  EXPECT_EQ(whole.thumbnailSize, 512u);
  EXPECT_EQ(Bytes(photo.begin() + whole.thumbnailStart, photo.begin() + whole.thumbnailStart + 512), Filler(512, 0xD8));

  EXPECT_FALSE(ValidateRecoveredCrw(photo, false, 26).ok);  // not the header it was found with
  EXPECT_FALSE(ValidateRecoveredCrw(Prefix(photo, photo.size() - 1), true, 26).ok);
  const RecordsOutside outside = RecordsOutsideCard();
  const CrwVerdict past = ValidateRecoveredCrw(
      Bytes(outside.card.begin() + static_cast<std::ptrdiff_t>(outside.outsideAt), outside.card.begin() + 4096 + 290),
      false, 26);
  EXPECT_FALSE(past.ok);
  EXPECT_EQ(past.reason, "a record (tag 2005, 6000 bytes at 354) lies past its end");

  CameraFileOptions noThumbnail;
  noThumbnail.hasThumbnail = false;
  const CrwVerdict none = ValidateRecoveredCrw(MakeCameraFile(noThumbnail), false, 26);
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(none.thumbnailSize, 0u);
}

}  // namespace
}  // namespace mendrake::testing
