// The card's FAT directories as evidence: each file's name, first cluster and
// size, live or deleted, read from the sectors as they stream past; names for
// photos whose own record is missing, and a line for each photo they name
// that did not come back.
#include "cardfs/CardDirectories.h"
#include "files/MemoryCardReader.h"
#include "files/Utf8Path.h"
#include "recovery/CardRecovery.h"
#include "recovery/DirectoryEvidence.h"
#include "tests/support/CardImage.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FlakyCardReader.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace mendrake::testing {
namespace {

Bytes ShortEntry(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size) {
  Bytes entry(name11.begin(), name11.end());
  entry.push_back(attributes);
  entry.resize(20, 0);
  Put16(entry, static_cast<std::uint16_t>(cluster >> 16), false);
  entry.resize(26, 0);
  Put16(entry, static_cast<std::uint16_t>(cluster), false);
  Put32(entry, size, false);
  return entry;
}

std::uint8_t Checksum(const std::string& name11) {
  std::uint8_t sum = 0;
  for (const char c : name11) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(c));
  return sum;
}

// The long-name part holding characters [13 * (n - 1), 13 * n) of name.
Bytes LongEntry(const std::u16string& name, int n, bool last, std::uint8_t checksum, bool deleted) {
  Bytes entry(32, 0);
  entry[0] = deleted ? 0xE5 : static_cast<std::uint8_t>(n | (last ? 0x40 : 0));
  entry[11] = 0x0F;
  entry[13] = checksum;
  static constexpr int kAt[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (int i = 0; i < 13; ++i) {
    const std::size_t index = static_cast<std::size_t>(13 * (n - 1) + i);
    const char16_t c = index < name.size() ? name[index] : index == name.size() ? u'\0' : u'\xFFFF';
    entry[static_cast<std::size_t>(kAt[i])] = static_cast<std::uint8_t>(c);
    entry[static_cast<std::size_t>(kAt[i]) + 1] = static_cast<std::uint8_t>(c >> 8);
  }
  return entry;
}

TEST(CardDirectories, ASectorOfEntriesGivesNamesClustersSizesLiveAndDeleted) {
  const std::string longShort = "PHOTOO~1CRW";
  const std::u16string longName = u"Photo of m\u00e9 at a lake.CRW";  // two parts
  Bytes sector;
  for (const Bytes& entry :
       {ShortEntry(".          ", 0x10, 3, 0), ShortEntry("..         ", 0x10, 0, 0),
        ShortEntry("CRW_0001CRW", 0x20, 5, 1000), ShortEntry("\xE5RW_0002CRW", 0x20, 9, 2000),
        LongEntry(longName, 2, true, Checksum(longShort), true), LongEntry(longName, 1, false, Checksum(longShort), true),
        ShortEntry("\xE5HOTOO~1CRW", 0x20, 70000, 3000), ShortEntry("CRW_0004THM", 0x20, 12, 6000)}) {
    sector.insert(sector.end(), entry.begin(), entry.end());
  }
  sector.resize(512, 0);
  Bytes card(4096, 0x5A);
  PlaceAt(card, 1536, sector);
  CardDirectories directories;
  directories.Observe(card.data(), 0, 2048);
  directories.Observe(card.data() + 2048, 2048, 2048);

  const std::vector<NamedFile> files = directories.Files();
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].name, "CRW_0001.CRW");
  EXPECT_FALSE(files[0].deleted);
  EXPECT_EQ(files[0].firstCluster, 5u);
  EXPECT_EQ(files[0].size, 1000u);
  EXPECT_EQ(files[0].entryAt, 1536 + 64);
  EXPECT_EQ(files[1].name, "?RW_0002.CRW");  // deleted without a long name: its first letter is gone
  EXPECT_TRUE(files[1].deleted);
  EXPECT_TRUE(files[1].firstLetterLost);
  EXPECT_EQ(files[2].name, "Photo of m\xC3\xA9 at a lake.CRW");  // the long name gives it back
  EXPECT_FALSE(files[2].firstLetterLost);
  EXPECT_EQ(files[2].firstCluster, 70000u);  // FAT32's high word
  EXPECT_EQ(files[3].name, "CRW_0004.THM");
  EXPECT_EQ(directories.ByFirstCluster(9)->size, 2000u);
  EXPECT_EQ(directories.ByFirstCluster(10), nullptr);

  // Raw data, text and a sector with one slot that is no entry give nothing.
  Bytes noise(512 * 8);
  AppendJunk(noise, JunkKind::kRandom, 512 * 8, 9);
  Bytes spoilt = sector;
  spoilt[7 * 32 + 11] = 0xC0;
  PlaceAt(noise, 512, spoilt);
  CardDirectories none;
  none.Observe(noise.data(), 0, static_cast<std::int64_t>(noise.size()));
  EXPECT_TRUE(none.Files().empty());
}

Bytes NamelessPhoto(std::size_t rawSize) {
  CameraFileOptions options;
  options.fileNumber = 0;  // no record names it
  options.rawDataSize = rawSize;
  options.thumbnail = MakeJpeg(16, 16);
  return MakeCameraFile(options);
}

// Zeros over the first bytes of the file whose bytes these are, wherever the card holds them.
void Overwrite(const std::string& image, const Bytes& file) {
  Bytes card = ReadFile(image);
  const auto found = std::search(card.begin(), card.end(), file.begin(), file.end());
  ASSERT_NE(found, card.end());
  std::fill(found, found + 512, 0);
  WriteFile(image, card);
}

// Zeros over the last count bytes of file on the card, found by its own last bytes.
void OverwriteTail(const std::string& image, const Bytes& file, std::size_t count) {
  Bytes card = ReadFile(image);
  const Bytes tail(file.end() - 4096, file.end());
  const auto found = std::search(card.begin(), card.end(), tail.begin(), tail.end());
  ASSERT_NE(found, card.end());
  std::fill(found + 4096 - static_cast<std::ptrdiff_t>(count), found + 4096, 0);
  WriteFile(image, card);
}

struct CardRun {
  RecoverySummary summary;
  LogLines log;
};

CardRun RecoverImage(const std::string& image, const std::string& folder) {
  CardRun run;
  const Bytes card = ReadFile(image);
  MemoryCardReader reader(card);
  std::filesystem::create_directories(PathFromUtf8(folder));
  run.summary = RecoverCard(reader, folder, run.log);
  return run;
}

TEST(CardDirectories, AfterAQuickFormatThePhotosComeBackUnderTheirDirectoryNames) {
  ScratchFolder folder;
  CardImageOptions options;
  const Bytes first = NamelessPhoto(40000);
  const Bytes lost = NamelessPhoto(50000);
  // Its raw data cut by the next file: its JPEG, stored first, is whole.
  const Bytes cutPicture = MakeJpeg(96, 64);
  CameraFileOptions cutOptions;
  cutOptions.rawDataSize = 60000;
  cutOptions.thumbnailFirst = true;
  cutOptions.thumbnail = cutPicture;
  const Bytes cut = MakeCameraFile(cutOptions);
  options.files = {{"IMG_0042.CRW", first}, {"CRW_0003.CRW", lost}, {"CRW_0010.CRW", cut}, {"CRW_0011.CRW", first}};
  options.formatted = true;
  const std::string image = folder / "card.img";
  std::string why;
  if (!MakeFatCardImage(image, options, &why)) GTEST_SKIP() << why;
  Overwrite(image, lost);
  OverwriteTail(image, cut, 30000);
  const CardRun run = RecoverImage(image, folder / "out");

  EXPECT_EQ(run.summary.recovered, 2);
  EXPECT_EQ(ReadFile(folder / "out/IMG_0042.CRW"), first);
  // A damaged one keeps the name of its directory entry too, with its JPEG beside it.
  EXPECT_EQ(run.summary.damaged, 1);
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(folder / "out/CRW_0010.damaged")));
  EXPECT_EQ(ReadFile(folder / "out/CRW_0010.jpg"), cutPicture);
  EXPECT_EQ(run.summary.namedNotRecovered, 1);
  const auto line = std::find_if(run.log.Lines().begin(), run.log.Lines().end(),
                                 [](const std::string& text) { return text.starts_with("CRW_0003.CRW, "); });
  ASSERT_NE(line, run.log.Lines().end());
  const std::string size = std::to_string(lost.size());  // five digits: "51,138"
  EXPECT_TRUE(line->starts_with("CRW_0003.CRW, " + size.substr(0, 2) + "," + size.substr(2) + " bytes, ")) << *line;
  EXPECT_NE(line->find(" bytes, named in a directory the card's FAT no longer backs: not recovered, no CRW file came "
                       "back from its first cluster (byte "),
            std::string::npos)
      << *line;
}

TEST(CardDirectories, PhotosDeletedOnAComputerThatDidNotComeBackHaveALineEach) {
  ScratchFolder folder;
  CardImageOptions options;
  const Bytes kept = NamelessPhoto(40000);
  const Bytes lost = NamelessPhoto(50000);
  options.files = {{"CRW_0001.CRW", kept}, {"CRW_0002.CRW", lost}};
  options.deleted = true;
  const std::string image = folder / "card.img";
  std::string why;
  if (!MakeFatCardImage(image, options, &why)) GTEST_SKIP() << why;
  Overwrite(image, lost);
  const CardRun run = RecoverImage(image, folder / "out");

  EXPECT_EQ(run.summary.recovered, 1);
  // A deleted entry has lost its first letter: no name comes from it.
  ASSERT_EQ(run.summary.files.size(), 1u);
  EXPECT_NE(run.summary.files[0].path.find("CRW_at_"), std::string::npos);
  EXPECT_EQ(run.summary.namedNotRecovered, 1);
  const auto line = std::find_if(run.log.Lines().begin(), run.log.Lines().end(),
                                 [](const std::string& text) { return text.starts_with("?RW_0002.CRW, "); });
  ASSERT_NE(line, run.log.Lines().end()) << ::testing::PrintToString(run.log.Lines());
  EXPECT_NE(line->find(" bytes, deleted: not recovered, "), std::string::npos) << *line;
}

TEST(CardDirectories, PhotosNamedPastWhereReadingStoppedAreCountedNotCalledLost) {
  ScratchFolder folder;
  CardImageOptions options;
  const Bytes early = NamelessPhoto(40000);
  Bytes filler(6 << 20);
  for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  options.files = {{"CRW_0001.CRW", early}, {"FILLER.BIN", filler}, {"CRW_0002.CRW", NamelessPhoto(50000)},
                   {"CRW_0003.CRW", NamelessPhoto(45000)}};
  options.deleted = true;
  const std::string image = folder / "card.img";
  std::string why;
  if (!MakeFatCardImage(image, options, &why)) GTEST_SKIP() << why;
  const Bytes card = ReadFile(image);
  FlakyCardReader reader(card);
  reader.VanishAt(3 << 20);
  LogLines log;
  std::filesystem::create_directory(PathFromUtf8(folder / "out"));
  const RecoverySummary summary = RecoverCard(reader, folder / "out", log);

  ASSERT_EQ(summary.stopped, RecoverySummary::Stop::kCardGone);
  EXPECT_EQ(summary.recovered, 1);
  EXPECT_EQ(summary.namedNotRecovered, 0);
  EXPECT_TRUE(std::find(log.Lines().begin(), log.Lines().end(),
                        "2 CRW files that the card's directories name begin past byte 2,097,152, where reading "
                        "stopped: not looked for") != log.Lines().end())
      << ::testing::PrintToString(log.Lines());
}

TEST(CardDirectories, ABurstsThmsWithoutFileNumbersGoBesideTheirPhotosByTheirDirectoryNames) {
  ScratchFolder folder;
  CardImageOptions options;
  const auto photo = [](const std::string& name, std::uint32_t number) {
    CameraFileOptions shot;
    shot.originalFileName = name + ".CRW";
    shot.thumbnailFileName = name + ".THM";
    shot.fileNumber = number;
    shot.timeStamp = 1068485966;  // both in one second
    shot.rawDataSize = 30000 + number % 10 * 1000;
    shot.thumbnail = MakeJpeg(16, 16);
    return MakeCameraFile(shot);
  };
  // Each THM a picture of its own, so that the two can be told apart here.
  const Bytes first = MakeThm("2003:11:10 17:39:26", 0);
  const Bytes second = MakeThm("2003:11:10 17:39:26", 0, 160, 120, 80);
  options.files = {{"CRW_0007.THM", first}, {"CRW_0007.CRW", photo("CRW_0007", 1000007)},
                   {"CRW_0008.THM", second}, {"CRW_0008.CRW", photo("CRW_0008", 1000008)}};
  options.deleted = true;
  const std::string image = folder / "card.img";
  std::string why;
  if (!MakeFatCardImage(image, options, &why)) GTEST_SKIP() << why;
  const CardRun run = RecoverImage(image, folder / "out");

  EXPECT_EQ(run.summary.recovered, 2);
  EXPECT_EQ(run.summary.thms, 2) << ::testing::PrintToString(run.log.Lines());
  EXPECT_EQ(ReadFile(folder / "out/CRW_0007.THM"), first);
  EXPECT_EQ(ReadFile(folder / "out/CRW_0008.THM"), second);
}

TEST(CardDirectories, TheEntriesOfAFirstClusterGiveTheSizesItMayHoldAndTheNumberOfItsPhoto) {
  // A deleted photo's first cluster given to a later one: both entries stay,
  // and either size may be the cluster's, but the later photo holds it. A THM's entry, or a name given on a
  // computer, says nothing of a CRW's size or number.
  Bytes sector;
  for (const Bytes& entry :
       {ShortEntry("\xE5RW_0100CRW", 0x20, 5, 1000), ShortEntry("\xE5RW_0200CRW", 0x20, 5, 2000),
        ShortEntry("\xE5RW_0300CRW", 0x20, 9, 3000), ShortEntry("\xE5RW_0300THM", 0x20, 12, 6000),
        ShortEntry("VACATIONCRW", 0x20, 14, 4000), ShortEntry("CRW_0010CRW", 0x20, 20, 5000),
        ShortEntry("\xE5RW_0900CRW", 0x20, 20, 7000)}) {
    sector.insert(sector.end(), entry.begin(), entry.end());
  }
  sector.resize(512, 0);
  CardDirectories directories;
  directories.Observe(sector.data(), 0, 512);
  EXPECT_EQ(directories.AllByFirstCluster(5).size(), 2u);
  DirectoryEvidence evidence(directories);
  constexpr std::int64_t kData = 65536, kCluster = 2048;
  const auto at = [](std::int64_t cluster) { return kData + (cluster - 2) * kCluster; };
  EXPECT_EQ(evidence.Weigh(at(9), 3001, nullptr).fault, "") << "no volume, no clusters";
  FatVolume volume;
  volume.dataStart = kData;
  volume.clusterSize = kCluster;
  evidence.SetVolume(volume);

  // The photo written last on cluster 5 is 0200: its size is fixed once its
  // records name it, and the older photo's never is.
  const DirectoryWord either = evidence.Weigh(at(5), 2000, nullptr);
  EXPECT_EQ(either.fault, "");
  EXPECT_FALSE(either.fixesSize);
  EXPECT_TRUE(either.mayFixSize);
  EXPECT_FALSE(evidence.Weigh(at(5), 1000, nullptr).mayFixSize);
  CrwRecords named;
  named.fileNumber = 1000200;
  EXPECT_TRUE(evidence.Weigh(at(5), 2000, &named).fixesSize);
  named.fileNumber = 1000100;
  EXPECT_FALSE(evidence.Weigh(at(5), 1000, &named).fixesSize);
  named.fileNumber = 1;  // records that give no number do not tell
  EXPECT_FALSE(evidence.Weigh(at(5), 2000, &named).fixesSize);
  EXPECT_EQ(evidence.Weigh(at(5), 1500, nullptr).fault,
            "the card's directory gives ?RW_0100.CRW 1,000 bytes and ?RW_0200.CRW 2,000 bytes, not 1,500");
  CrwRecords records;
  records.fileNumber = 1000300;
  EXPECT_TRUE(evidence.Weigh(at(9), 3000, &records).fixesSize);
  records.fileNumber = 1000301;
  EXPECT_EQ(evidence.Weigh(at(9), 3000, &records).fault,
            "the card's directory gives ?RW_0300.CRW 3,000 bytes, but its records name it CRW_0301.CRW");
  EXPECT_EQ(evidence.Weigh(at(14), 4000, &records).fault, "");
  records.fileNumber = 1;  // no folder: no camera's number
  EXPECT_TRUE(evidence.Weigh(at(9), 3000, &records).fixesSize);
  // A kept entry's photo took its cluster after a deleted one's, whatever their numbers.
  named.fileNumber = 1000010;
  EXPECT_TRUE(evidence.Weigh(at(20), 5000, &named).fixesSize);
  named.fileNumber = 1000900;
  EXPECT_FALSE(evidence.Weigh(at(20), 7000, &named).fixesSize);
  EXPECT_FALSE(evidence.Weigh(at(12), 100, nullptr).named);
  EXPECT_FALSE(evidence.Weigh(at(9) + 512, 100, nullptr).named);
}

}  // namespace
}  // namespace mendrake::testing
