// A failing card read once: every byte read kept in an image with a GNU
// ddrescue mapfile, a card that drops out or stops reading ends the scan
// where it stands, and a scan goes on from there with --start.
#include "devices/DeviceReader.h"
#include "recovery/CardImageSaver.h"
#include "recovery/CardRecovery.h"
#include "files/MemoryCardReader.h"
#include "recovery/RescueMap.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FlakyCardReader.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <set>
#include <sys/wait.h>

namespace mendrake {
void PrintTo(const RescueMap::Area& area, std::ostream* out) {
  *out << "{" << area.position << ", " << area.size << ", '" << area.status << "'}";
}
}  // namespace mendrake

namespace mendrake::testing {
namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;
using Area = RescueMap::Area;

// An 8 MiB card, four blocks of the scan's reads, with a photo in each
// block's second MiB among random bytes.
struct FourPhotoCard {
  Bytes bytes;
  std::vector<Bytes> photos;
  FourPhotoCard() {
    AppendJunk(bytes, JunkKind::kRandom, static_cast<std::size_t>(8 * kMiB), 27);
    for (int i = 0; i < 4; ++i) {
      CameraFileOptions options;
      options.rawDataSize = 40000 + 1000 * i;
      options.whiteBalance = static_cast<std::uint16_t>(1 + i);
      options.thumbnail = MakeJpeg(16, 16);
      photos.push_back(MakeCameraFile(options));
      PlaceAt(bytes, static_cast<std::size_t>((2 * i + 1) * kMiB), photos.back());
    }
  }
};

// The photos among the files written, by their bytes.
std::set<Bytes> PhotosWritten(const RecoverySummary& summary) {
  std::set<Bytes> written;
  for (const RecoveredFile& file : summary.files) {
    if (!file.damaged) written.insert(ReadFile(file.path));
  }
  return written;
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

RescueMap MapOf(const std::string& mapfile, std::int64_t size) {
  RescueMap map(size);
  std::string why;
  EXPECT_TRUE(RescueMap::Parse(ReadText(mapfile), size, map, why)) << why;
  return map;
}

bool Installed(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

TEST(RescueMap, KeepsContiguousAreasAndReadsBackWhatItWrites) {
  RescueMap map(10000);
  map.Mark(0, 4096, RescueMap::kFinished);
  map.Mark(4096, 6144, RescueMap::kNonTrimmed);
  map.Mark(4096, 4608, RescueMap::kFinished);   // joins the area before
  map.Mark(5632, 6144, RescueMap::kBadSector);
  map.Mark(9000, 20000, RescueMap::kFinished);  // cut at the card's end
  map.MarkUnlessFinished(8000, 10000, RescueMap::kBadSector);  // what an earlier read put in the image stays
  const std::vector<Area> areas{{0, 4608, '+'}, {4608, 1024, '*'}, {5632, 512, '-'}, {6144, 1856, '?'},
                                {8000, 1000, '-'}, {9000, 1000, '+'}};
  EXPECT_EQ(map.Areas(), areas);
  EXPECT_EQ(map.Bytes(RescueMap::kFinished), 5608);

  const std::string text = map.MapfileText(6144);
  EXPECT_NE(text.find("# current_pos  current_status  current_pass\n0x00001800     ?               1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n0x00001600  0x00000200  -\n"), std::string::npos) << text;
  RescueMap read(10000);
  std::string why;
  ASSERT_TRUE(RescueMap::Parse(text, 10000, read, why)) << why;
  EXPECT_EQ(read.Areas(), areas);

  // ddrescue's own forms: decimal and octal numbers, comments after the
  // values, a status line without a pass (before 1.20), a map shorter than
  // the card (the rest not tried).
  ASSERT_TRUE(RescueMap::Parse("# made by hand\n0 + # done\n0 0x1000 + \n4096 010 - # eight bytes\n", 10000, read,
                               why))
      << why;
  EXPECT_EQ(read.Areas(), (std::vector<Area>{{0, 4096, '+'}, {4096, 8, '-'}, {4104, 5896, '?'}}));

  for (const char* broken : {"", "0x0 ? 1\n0 100 +\n200 100 +\n", "0 ? 1\n0 100 x\n", "0 ? 1\n0 20000 +\n",
                             "0 ? 1\n0 100\n", "zero ? 1\n"}) {
    EXPECT_FALSE(RescueMap::Parse(broken, 10000, read, why)) << broken;
  }
}

// A card is read ahead on a thread of the scan's own when it is a device,
// on the scan's thread when it is a file: both stop, skip and throw alike.
class ReadingFailures : public ::testing::TestWithParam<bool> {
 protected:
  FlakyCardReader Reader(std::span<const std::uint8_t> bytes) const {
    FlakyCardReader reader(bytes);
    reader.ReadAsFile(GetParam());
    return reader;
  }
};
INSTANTIATE_TEST_SUITE_P(DeviceAndFile, ReadingFailures, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "AsFile" : "AsDevice"; });

TEST_P(ReadingFailures, ACardGoneFromItsReaderStopsTheScanAtOnceAndKeepsWhatWasFound) {
  ScratchFolder folder;
  const FourPhotoCard card;
  FlakyCardReader reader = Reader(card.bytes);
  reader.VanishAt(4 * kMiB + 100000);
  LogLines log;
  const RecoverySummary summary = RecoverCard(reader, folder.path().string(), log);
  EXPECT_EQ(summary.stopped, RecoverySummary::Stop::kCardGone);
  EXPECT_EQ(summary.stoppedAt, 4 * kMiB);
  // One read finds the card gone; none follows it.
  EXPECT_EQ(reader.readsWhileGone, 1);
  EXPECT_EQ(PhotosWritten(summary), (std::set<Bytes>{card.photos[0], card.photos[1]}));
  ASSERT_FALSE(log.Lines().empty());
  EXPECT_EQ(log.Lines().back().rfind("Stopped at byte 4194304 of 8388608: the card is gone from its reader. "
                                     "Recovered 2 CRW files, 0 damaged, from 4.0 MiB in ",
                                     0),
            0u)
      << log.Lines().back();
  EXPECT_NE(log.Lines().back().find("To go on from there: crwlog --recover with --start 4194304 (and the same "
                                    "--save-image to fill the same image and mapfile)."),
            std::string::npos);
}

TEST_P(ReadingFailures, ALongUnreadableStretchStopsAtItsBoundButBadSpotsDoNot) {
  ScratchFolder folder;
  const FourPhotoCard card;
  RecoveryOptions options;
  options.bounds.maxUnreadableRun = 256 * 1024;
  // A bad spot just under the bound is skipped, and the photos after it found.
  {
    FlakyCardReader reader = Reader(card.bytes);
    reader.FailBetween(2 * kMiB + 512, 2 * kMiB + 512 + options.bounds.maxUnreadableRun - 512);
    LogLines log;
    std::filesystem::create_directories(folder / "spots");
    const RecoverySummary summary = RecoverCard(reader, folder / "spots", log, {}, options);
    EXPECT_EQ(summary.stopped, RecoverySummary::Stop::kNone);
    EXPECT_EQ(PhotosWritten(summary).size(), 4u);
  }
  // From there to the card's end nothing reads: the scan stops after the bound.
  FlakyCardReader reader = Reader(card.bytes);
  reader.FailBetween(4 * kMiB + 1536, 8 * kMiB);
  LogLines log;
  std::filesystem::create_directories(folder / "stretch");
  const RecoverySummary summary = RecoverCard(reader, folder / "stretch", log, {}, options);
  const std::int64_t stop = 4 * kMiB + 1536 + options.bounds.maxUnreadableRun;
  EXPECT_EQ(summary.stopped, RecoverySummary::Stop::kUnreadable);
  EXPECT_EQ(summary.stoppedAt, stop);
  EXPECT_LT(reader.furthestAsked, 6 * kMiB + 1);  // the block holding the stop, no further
  EXPECT_EQ(reader.reads, 3 + 3 + options.bounds.maxUnreadableRun / 512);  // two blocks, one read sector by sector
  EXPECT_EQ(PhotosWritten(summary).size(), 2u);
  EXPECT_EQ(log.Lines().back().rfind("Stopped at byte " + std::to_string(stop) +
                                         " of 8388608: 262144 bytes in a row could not be read. Recovered 2 CRW files",
                                     0),
            0u)
      << log.Lines().back();

  // Past ReadAhead::kMaxRunReadBySector of failed sectors, a failed block is
  // not read again sector by sector: 3 MiB of failures take two sector passes
  // at most, not six thousand sector reads.
  FlakyCardReader dying = Reader(card.bytes);
  dying.FailBetween(2 * kMiB + 1536, 8 * kMiB);
  options.bounds.maxUnreadableRun = 3 * kMiB;
  LogLines dyingLog;
  std::filesystem::create_directories(folder / "dying");
  const RecoverySummary died = RecoverCard(dying, folder / "dying", dyingLog, {}, options);
  EXPECT_EQ(died.stopped, RecoverySummary::Stop::kUnreadable);
  EXPECT_EQ(died.stoppedAt, 6 * kMiB);
  EXPECT_EQ(dying.reads, 1 + 1 + 4096 + 1);  // a block, a block sector by sector, a block given up whole
  EXPECT_NE(std::find(dyingLog.Lines().begin(), dyingLog.Lines().end(),
                      "Read error at bytes 4194304 to 6291455: skipped, read as zeros"),
            dyingLog.Lines().end());
}

// A reader that cannot keep what it read (an image on a disk gone bad, say).
class ThrowingReader final : public CardReader {
 public:
  ThrowingReader(CardReader& card, std::int64_t throwAt) : card_(card), throwAt_(throwAt) {}
  std::int64_t Size() const override { return card_.Size(); }
  bool SystemReadsAhead() const override { return card_.SystemReadsAhead(); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override {
    if (offset + count > throwAt_) throw FileError("card.img", "cannot be written: Input/output error");
    return card_.ReadAt(offset, buffer, count);
  }

 private:
  CardReader& card_;
  std::int64_t throwAt_;
};

TEST_P(ReadingFailures, WhatTheReadingThrowsReachesTheCallerAfterTheFilesReadBefore) {
  ScratchFolder folder;
  const FourPhotoCard card;
  FlakyCardReader memory = Reader(card.bytes);
  ThrowingReader reader(memory, 4 * kMiB + 1);
  LogLines log;
  try {
    RecoverCard(reader, folder.path().string(), log);
    ADD_FAILURE() << "nothing was thrown";
  } catch (const FileError& failure) {
    EXPECT_EQ(failure.reason(), "cannot be written: Input/output error");
  }
  // The photo closed before was written whole; the one whose bytes were still
  // being gathered is not written at all.
  std::set<Bytes> written;
  for (const std::string& name : folder.Entries()) {
    if (name.ends_with(".CRW") || name.ends_with(".damaged")) written.insert(ReadFile(folder / name));
  }
  EXPECT_EQ(written, (std::set<Bytes>{card.photos[0]}));
}

TEST(FailingCards, StartGoesOnWhereAScanStoppedAndFillsTheSameImageAndMapfile) {
  ScratchFolder folder;
  const FourPhotoCard card;
  const std::string image = folder / "card.img";
  const std::string mapfile = folder / "card.img.map";
  RecoveryOptions options;
  options.imagePath = image;

  FlakyCardReader dropping(card.bytes);
  dropping.VanishAt(4 * kMiB + 100000);
  LogLines first;
  const RecoverySummary stopped = RecoverCard(dropping, folder.path().string(), first, {}, options);
  ASSERT_EQ(stopped.stoppedAt, 4 * kMiB);
  EXPECT_EQ(MapOf(mapfile, 8 * kMiB).Areas(), (std::vector<Area>{{0, 4 * kMiB, '+'}, {4 * kMiB, 4 * kMiB, '?'}}));
  EXPECT_EQ(ReadFile(image).size(), card.bytes.size());
  EXPECT_EQ(Prefix(ReadFile(image), 4 * kMiB), Prefix(card.bytes, 4 * kMiB));
  // Without --start an image is never replaced.
  {
    MemoryCardReader again(card.bytes);
    LogLines log;
    EXPECT_THROW(RecoverCard(again, folder.path().string(), log, {}, options), FileError);
  }

  // The card back in its reader, the scan goes on from the byte the last line gave.
  MemoryCardReader back(card.bytes);
  options.start = stopped.stoppedAt;
  LogLines second;
  const RecoverySummary rest = RecoverCard(back, folder.path().string(), second, {}, options);
  EXPECT_EQ(rest.stopped, RecoverySummary::Stop::kNone);
  EXPECT_EQ(PhotosWritten(rest), (std::set<Bytes>{card.photos[2], card.photos[3]}));
  EXPECT_NE(second.Lines().back().find("from 4.0 MiB"), std::string::npos) << second.Lines().back();
  EXPECT_EQ(MapOf(mapfile, 8 * kMiB).Areas(), (std::vector<Area>{{0, 8 * kMiB, '+'}}));
  EXPECT_EQ(ReadFile(image), card.bytes);

  // Going on needs the map that says what the image holds.
  std::filesystem::remove(mapfile);
  LogLines third;
  EXPECT_THROW(RecoverCard(back, folder.path().string(), third, {}, options), FileError);
}

TEST(FailingCards, DdrescueGoesBackForTheBadSectorsOnlyAndRecoveryRunsOnTheImage) {
  ASSERT_TRUE(Installed("ddrescue")) << "GNU ddrescue is missing (scripts/install-deps.sh installs gddrescue)";
  ScratchFolder folder;
  const FourPhotoCard card;
  // Bad sectors in the second photo and in the random bytes after it.
  const std::int64_t photoBad = 3 * kMiB + 8192;
  const std::int64_t junkBad = 3 * kMiB + 600064;
  FlakyCardReader reader(card.bytes);
  reader.FailBetween(photoBad, photoBad + 1000);
  reader.FailBetween(junkBad + 100, junkBad + 200);
  RecoveryOptions options;
  options.imagePath = folder / "card.img";
  LogLines log;
  std::filesystem::create_directories(folder / "out");
  const RecoverySummary summary = RecoverCard(reader, folder / "out", log, {}, options);
  EXPECT_EQ(PhotosWritten(summary).size(), 3u);
  const std::vector<Area> areas{{0, photoBad, '+'},
                                {photoBad, 1024, '-'},
                                {photoBad + 1024, junkBad - photoBad - 1024, '+'},
                                {junkBad, 512, '-'},
                                {junkBad + 512, 8 * kMiB - junkBad - 512, '+'}};
  EXPECT_EQ(MapOf(options.imagePath + ".map", 8 * kMiB).Areas(), areas);
  // The photo with unread sectors is kept as damaged, not as the photo.
  EXPECT_TRUE(std::any_of(log.Lines().begin(), log.Lines().end(), [&](const std::string& line) {
    return line.starts_with("At 3145728: CRW_at_3145728.damaged, ") &&
           line.find("damaged: its end was found, but bytes " + std::to_string(photoBad) + " to " +
                     std::to_string(photoBad + 1023) + " could not be read and are zeros in it") != std::string::npos;
  })) << ::testing::PrintToString(log.Lines());
  Bytes image = ReadFile(options.imagePath);
  EXPECT_EQ(image[photoBad], 0);  // a hole
  // A mark in a rescued area shows that ddrescue leaves those alone.
  image[100] = static_cast<std::uint8_t>(card.bytes[100] ^ 0xFF);
  WriteFile(options.imagePath, image);

  // The card (here a copy of it that reads everywhere) given to ddrescue with the image and the mapfile.
  const std::string copy = folder.Write("card-copy.img", card.bytes);
  ASSERT_EQ(Shell("ddrescue -q -r3 " + Quoted(copy) + " " + Quoted(options.imagePath) + " " +
                  Quoted(options.imagePath + ".map") + " >/dev/null 2>&1"),
            0);
  Bytes expected = card.bytes;
  expected[100] = image[100];
  EXPECT_EQ(ReadFile(options.imagePath), expected);
  EXPECT_EQ(MapOf(options.imagePath + ".map", 8 * kMiB).Areas(), (std::vector<Area>{{0, 8 * kMiB, '+'}}));

  // Recovery runs again from the image, the whole second photo now there.
  DeviceReader fromImage(options.imagePath);
  LogLines again;
  std::filesystem::create_directories(folder / "from-image");
  const RecoverySummary recovered = RecoverCard(fromImage, folder / "from-image", again);
  EXPECT_EQ(PhotosWritten(recovered), (std::set<Bytes>(card.photos.begin(), card.photos.end())));
}

class CrwlogImage : public ::testing::Test {
 protected:
  int Crwlog(const std::string& arguments) {
    return Shell(Quoted(std::string(MENDRAKE_BIN_DIR) + "/crwlog") + " " + arguments + " >" +
                 Quoted(folder / "stdout") + " 2>" + Quoted(folder / "stderr"));
  }
  std::string Stdout() { return ReadText(folder / "stdout"); }
  std::string Stderr() { return ReadText(folder / "stderr"); }
  ScratchFolder folder;
};

TEST_F(CrwlogImage, SaveImageCopiesTheCardAndRefusesToReplaceAnImageOrWriteOntoTheCard) {
  const FourPhotoCard card;
  const std::string source = folder.Write("card.img", card.bytes);
  const std::string image = folder / "saved.img";
  ASSERT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "out") + " --save-image " + Quoted(image)),
            0)
      << Stderr();
  EXPECT_EQ(ReadFile(image), card.bytes);
  EXPECT_EQ(MapOf(image + ".map", 8 * kMiB).Areas(), (std::vector<Area>{{0, 8 * kMiB, '+'}}));
  EXPECT_NE(Stdout().find("Image of the card: " + image + ", 8388608 bytes read into it, the whole card"),
            std::string::npos)
      << Stdout();

  WriteFile(image, Bytes(10, 'k'));
  EXPECT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "again") + " --save-image " + Quoted(image)),
            2);
  EXPECT_NE(Stderr().find("already exists, and is not replaced"), std::string::npos) << Stderr();
  EXPECT_EQ(ReadFile(image), Bytes(10, 'k'));
  EXPECT_FALSE(std::filesystem::exists(folder / "again"));

  EXPECT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "onto") + " --save-image " + Quoted(source)),
            2);
  EXPECT_NE(Stderr().find("The image would be written onto the card being recovered"), std::string::npos)
      << Stderr();
  EXPECT_EQ(ReadFile(source), card.bytes);

  EXPECT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "past") + " --start 8388608"), 2);
  EXPECT_NE(Stderr().find("--start 8388608 is not before the card's end (8388608 bytes)"), std::string::npos);
  EXPECT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "past") + " --start 4MiB"), 2);
  EXPECT_NE(Stderr().find("--start takes a number of bytes, not \"4MiB\""), std::string::npos);
  EXPECT_EQ(Crwlog("--save-image " + Quoted(image) + " " + Quoted(source)), 2);
  EXPECT_NE(Stderr().find("--save-image goes with --recover"), std::string::npos);

  // From the middle on, only the photos after the start are found.
  ASSERT_EQ(Crwlog("--recover " + Quoted(source) + " " + Quoted(folder / "half") + " --start 4194304"), 0);
  EXPECT_NE(Stdout().find("CRW files, 0 damaged, from 4.0 MiB"), std::string::npos) << Stdout();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "half"), {}), 4);  // two photos, two thumbnails
}

}  // namespace
}  // namespace mendrake::testing
