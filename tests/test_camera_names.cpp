// Each photo back as the camera named it: the name it recorded (else its file
// number, else its place), dated to its shot time, its THM beside it, and
// for a damaged file its own JPEG where that lies whole in the bytes kept.
#include "files/FileTimes.h"
#include "recovery/CardRecovery.h"
#include "files/MemoryCardReader.h"
#include "recovery/PhotoName.h"
#include "recovery/ShotDays.h"
#include "recovery/ShotTime.h"
#include "recovery/ThmMatch.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/Sample.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace mendrake::testing {
namespace {

constexpr std::size_t kCluster = 16 * 1024;

// 10 November 2003 17:39:26 on the camera's clock, and seconds after it.
constexpr std::uint32_t kShot = 1068485966;

struct Shot {
  std::string name;          // OriginalFileName; empty: none
  std::uint32_t number = 0;  // FileNumber; 0: none
  std::optional<std::uint32_t> time;
  std::size_t rawSize = 20000;
  bool thumbnailFirst = false;
  Bytes thumbnail = MakeJpeg(32, 24);
};

Bytes Photo(const Shot& shot) {
  CameraFileOptions options;
  options.originalFileName = shot.name;
  if (!shot.name.empty()) options.thumbnailFileName = shot.name.substr(0, shot.name.rfind('.')) + ".THM";
  options.fileNumber = shot.number;
  options.timeStamp = shot.time;
  options.rawDataSize = shot.rawSize;
  options.thumbnailFirst = shot.thumbnailFirst;
  options.thumbnail = shot.thumbnail;
  return MakeCameraFile(options);
}

// Files laid out cluster after cluster, each at a cluster start, as a camera writes them.
struct Card {
  Bytes bytes;
  std::vector<std::size_t> at;  // where each file went
  void Add(const Bytes& file) {
    const std::size_t start = (bytes.size() + kCluster - 1) / kCluster * kCluster;
    PlaceAt(bytes, start, file);
    at.push_back(start);
  }
  void Pad(std::size_t clusters) { bytes.resize((bytes.size() + kCluster - 1) / kCluster * kCluster + clusters * kCluster, 0); }
};

struct Recovery {
  RecoverySummary summary;
  LogLines log;
  std::string Line(const std::string& containing) const {
    for (const std::string& line : log.Lines()) {
      if (line.find(containing) != std::string::npos) return line;
    }
    return {};
  }
};

Recovery Recover(const Card& card, const ScratchFolder& folder) {
  Recovery recovery;
  MemoryCardReader reader(card.bytes);
  recovery.summary = RecoverCard(reader, folder.path().string(), recovery.log);
  return recovery;
}

std::int64_t ModificationTime(const std::string& path) {
  const auto time = std::filesystem::last_write_time(PathFromUtf8(path));
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::file_clock::to_sys(time).time_since_epoch())
      .count();
}

TEST(CameraNames, TheCamerasOwnNameComesFirstThenTheFileNumberThenThePlace) {
  Card card;
  const Bytes named = Photo({"CRW_1234.CRW", 1000001, kShot});
  card.Add(named);
  card.Add(Photo({"", 1000042, kShot + 1}));                        // no name: its number
  card.Add(Photo({"DCIM\\100CANON\\CRW_0007.CRW", 1000007, {}}));   // a path is no camera's name
  card.Add(Photo({"CRW_\x01" "8.CRW", 1000008, {}}));               // nor a control byte
  card.Add(Photo({"CRW_0009.JPG", 0, {}}));                         // nor another ending; no number: its place
  card.Add(Photo({"CRW_1234.CRW", 1000001, kShot + 60, 30000}));    // another photo of that name: a counter reset
  card.Add(named);                                                  // the same photo twice: kept once
  card.Pad(1);
  ScratchFolder folder;
  const Recovery recovery = Recover(card, folder);

  EXPECT_EQ(recovery.summary.recovered, 7);
  EXPECT_EQ(recovery.summary.damaged, 0);
  const std::string placeName = "CRW_at_" + std::to_string(card.at[4]);
  const std::vector<std::string> expected = {"CRW_0007.CRW",       "CRW_0007.jpg",       "CRW_0008.CRW",
                                             "CRW_0008.jpg",       "CRW_0042.CRW",       "CRW_0042.jpg",
                                             "CRW_1234 (2).CRW",   "CRW_1234 (2).jpg",   "CRW_1234.CRW",
                                             "CRW_1234.jpg",       placeName + ".CRW",   placeName + ".jpg"};
  EXPECT_EQ(folder.Entries(), expected);
  EXPECT_EQ(ReadFile(folder / "CRW_1234.CRW"), named);
  EXPECT_NE(ReadFile(folder / "CRW_1234 (2).CRW"), named);
  EXPECT_NE(recovery.Line("At " + std::to_string(card.at[6]) + ": CRW_1234.CRW").find("kept once"), std::string::npos);
}

TEST(CameraNames, TheCamerasRecordsReadAsTheCameraWroteThem) {
  MENDRAKE_REQUIRE_SAMPLE(path);
  const Bytes sample = ReadFile(path);
  const CrwRecords records = ReadCrwRecords(sample, false, 26);
  EXPECT_EQ(records.originalFileName, "CRW_1602.CRW");
  EXPECT_EQ(records.thumbnailFileName, "CRW_1602.THM");
  EXPECT_EQ(records.fileNumber, 1161602u);
  EXPECT_EQ(records.shotTime, std::optional<std::int64_t>(kShot));  // 2003:11:10 17:39:26, as exiftool reads it
  EXPECT_EQ(records.jpegSize, 29u);
  // Big-endian builder files, and a file whose root pointer is lost.
  CameraFileOptions options;
  options.bigEndian = true;
  options.originalFileName = "CRW_0042.CRW";
  options.timeStamp = kShot + 7;
  options.fileNumber = 1000042;
  const Bytes built = MakeCameraFile(options);
  const CrwRecords mm = ReadCrwRecords(built, true, 26);
  EXPECT_EQ(mm.originalFileName, "CRW_0042.CRW");
  EXPECT_EQ(mm.shotTime, std::optional<std::int64_t>(kShot + 7));
  EXPECT_EQ(mm.fileNumber, 1000042u);
  EXPECT_TRUE(ReadCrwRecords(Prefix(built, built.size() - 3), true, 26).originalFileName.empty());
}

TEST(CameraNames, CameraNameStemTakesOnlyTheCamerasForm) {
  EXPECT_EQ(CameraNameStem("CRW_1234.CRW", ".CRW"), "CRW_1234");
  EXPECT_EQ(CameraNameStem("crw_1234.crw", ".CRW"), "crw_1234");
  EXPECT_EQ(CameraNameStem("CRW_1234.THM", ".THM"), "CRW_1234");
  for (const char* refused : {"", ".CRW", "CRW_1234.THM", "../CRW_1234.CRW", "A/B.CRW", "C:B.CRW", "CRW_12\x7F.CRW",
                              "CRW_1\xC3\xA9.CRW", "CRW_1234 .CRW", "CRW_1234..CRW", "CON.CRW", "com1.CRW",
                              "CRW?.CRW", "CRW_1234.CRW.exe"}) {
    EXPECT_EQ(CameraNameStem(refused, ".CRW"), "") << refused;
  }
  EXPECT_EQ(CameraNameStem("COM10.CRW", ".CRW"), "COM10");
  CrwRecords records;
  records.fileNumber = 1011234;
  EXPECT_EQ(PhotoStem(records, "", 512), "CRW_1234");
  records.originalFileName = "IMG_0001.CRW";
  EXPECT_EQ(PhotoStem(records, "", 512), "IMG_0001");
  EXPECT_EQ(PhotoStem(CrwRecords{}, "", 512), "CRW_at_512");
}

TEST(ShotTimes, EveryFileOfAPhotoIsDatedToItsShotAndAFileWithoutOneToNow) {
  Card card;
  card.Add(Photo({"CRW_0001.CRW", 1000001, kShot}));
  card.Add(Photo({"CRW_0002.CRW", 1000002, {}}));
  card.Add(Photo({"CRW_0003.CRW", 1000003, 12345}));  // a clock never set: no time
  card.Pad(1);
  ScratchFolder folder;
  const auto before = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  const Recovery recovery = Recover(card, folder);
  ASSERT_EQ(recovery.summary.recovered, 3);

  EXPECT_EQ(ModificationTime(folder / "CRW_0001.CRW"), SystemTimeOfLocalClock(kShot));
  EXPECT_EQ(ModificationTime(folder / "CRW_0001.jpg"), SystemTimeOfLocalClock(kShot));
  EXPECT_GE(ModificationTime(folder / "CRW_0002.CRW"), before);
  EXPECT_GE(ModificationTime(folder / "CRW_0003.CRW"), before);
  EXPECT_EQ(recovery.summary.files[0].shotTime, std::optional<std::int64_t>(kShot));
  EXPECT_FALSE(recovery.summary.files[1].shotTime);
  EXPECT_FALSE(recovery.summary.files[2].shotTime);
}

#ifndef _WIN32
// The camera's clock is read as this computer's local time: a zone's offset,
// summer time included, is taken off.
TEST(ShotTimes, TheCamerasClockIsReadAsLocalTime) {
  const char* zone = std::getenv("TZ");
  const std::string kept = zone ? zone : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  const std::int64_t winter = SecondsOf({2003, 11, 10, 17, 39, 26});
  const std::int64_t summer = SecondsOf({2003, 7, 1, 12, 0, 0});
  EXPECT_EQ(SystemTimeOfLocalClock(winter), winter - 3600);
  EXPECT_EQ(SystemTimeOfLocalClock(summer), summer - 7200);
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(SystemTimeOfLocalClock(winter), winter);
  if (zone) setenv("TZ", kept.c_str(), 1); else unsetenv("TZ");
  tzset();
}
#endif

TEST(ShotTimes, WallClockSumsAndTexts) {
  EXPECT_EQ(ShotTimeText(kShot), "2003-11-10 17:39:26");
  EXPECT_EQ(ShotDayText(kShot), "10 November 2003");
  EXPECT_EQ(ParseExifTime("2003:11:10 17:39:26"), std::optional<std::int64_t>(kShot));
  EXPECT_EQ(ParseExifTime("2000:02:29 00:00:00"), std::optional<std::int64_t>(951782400));
  EXPECT_FALSE(ParseExifTime("0000:00:00 00:00:00"));
  EXPECT_FALSE(ParseExifTime("    :  :     :  :  "));
  EXPECT_FALSE(ParseExifTime("2003:11:10"));
  EXPECT_EQ(ShotDay(kShot), ShotDay(SecondsOf({2003, 11, 10, 0, 0, 0})));
  EXPECT_NE(ShotDay(kShot), ShotDay(SecondsOf({2003, 11, 11, 0, 0, 0})));
}

TEST(ShotDays, FilesGoByDayInShotOrderAndThoseWithoutATimeLastInCardOrder) {
  const auto file = [](std::optional<std::int64_t> time) {
    RecoveredFile recovered;
    recovered.shotTime = time;
    return recovered;
  };
  const std::int64_t nextDay = SecondsOf({2003, 11, 11, 0, 0, 0});
  const std::vector<RecoveredFile> files = {file(kShot + 5), file({}),          file(nextDay), file(kShot),
                                            file({}),        file(nextDay - 1), file(kShot)};
  const std::vector<ShotDayGroup> days = GroupByShotDay(files);
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0].title, "10 November 2003, 4 photos");
  EXPECT_EQ(days[0].files, (std::vector<std::size_t>{3, 6, 0, 5}));
  EXPECT_EQ(days[1].title, "11 November 2003, 1 photo");
  EXPECT_EQ(days[1].files, (std::vector<std::size_t>{2}));
  EXPECT_EQ(days[2].title, "Shot time unknown, 2 photos");
  EXPECT_EQ(days[2].files, (std::vector<std::size_t>{1, 4}));
  EXPECT_EQ(ShotClockText(kShot), "17:39:26");
  EXPECT_TRUE(GroupByShotDay({}).empty());
}

TEST(Thms, EachGoesBesideTheCrwFileOfItsSecondAndTheRestAreCounted) {
  const auto exifTime = [](std::uint32_t seconds) {
    std::string text = ShotTimeText(seconds);
    text[4] = ':';
    text[7] = ':';
    return text;
  };
  Card card;
  card.Add(MakeThm(exifTime(kShot), 0));                 // before its CRW file, as cameras may write it
  card.Add(Photo({"CRW_0001.CRW", 1000001, kShot}));
  card.Add(Photo({"CRW_0002.CRW", 1000002, kShot + 5}));
  card.Add(MakeThm(exifTime(kShot + 5), 0));
  card.Add(MakeThm(exifTime(kShot + 99), 0));            // its photo is gone: counted, not written
  card.Add(MakeThm(exifTime(kShot + 5), 0, 320, 240));   // not a THM's size: no THM
  // A burst: two photos of one second. The file number in the THM's maker note decides ...
  card.Add(Photo({"CRW_0005.CRW", 1000005, kShot + 10}));
  card.Add(Photo({"CRW_0006.CRW", 1000006, kShot + 10}));
  card.Add(MakeThm(exifTime(kShot + 10), 1000006));
  // ... and without one nothing is guessed.
  card.Add(Photo({"CRW_0007.CRW", 1000007, kShot + 20}));
  card.Add(Photo({"CRW_0008.CRW", 1000008, kShot + 20}));
  card.Add(MakeThm(exifTime(kShot + 20), 0));
  // A THM across the end of one read and the start of the next; its photo was
  // renamed on the way (its name taken), and its THM follows that name.
  constexpr std::size_t kRead = 2 * 1024 * 1024;
  card.bytes.resize(kRead - 4 * kCluster, 0);
  card.Add(Photo({"CRW_0001.CRW", 1000001, kShot + 30, 12000}));
  PlaceAt(card.bytes, kRead - 2048, MakeThm(exifTime(kShot + 30), 0));
  card.Pad(1);
  ScratchFolder folder;
  const Recovery recovery = Recover(card, folder);

  ASSERT_EQ(recovery.summary.recovered, 7) << ::testing::PrintToString(recovery.log.Lines());
  EXPECT_EQ(ReadFile(folder / "CRW_0001.THM"), MakeThm(exifTime(kShot), 0));
  EXPECT_EQ(ReadFile(folder / "CRW_0002.THM"), MakeThm(exifTime(kShot + 5), 0));
  EXPECT_EQ(ReadFile(folder / "CRW_0006.THM"), MakeThm(exifTime(kShot + 10), 1000006));
  EXPECT_EQ(ReadFile(folder / "CRW_0001 (2).THM"), MakeThm(exifTime(kShot + 30), 0));
  EXPECT_EQ(ModificationTime(folder / "CRW_0002.THM"), SystemTimeOfLocalClock(kShot + 5));
  for (const char* absent : {"CRW_0005.THM", "CRW_0007.THM", "CRW_0008.THM"}) {
    EXPECT_FALSE(std::filesystem::exists(folder.path() / absent)) << absent;
  }
  EXPECT_EQ(recovery.summary.thms, 4);
  EXPECT_EQ(recovery.summary.thmsUnmatched, 2);
  EXPECT_EQ(recovery.Line("THM at " + std::to_string(card.at[0])), "THM at 0: CRW_0001.THM beside CRW_0001.CRW");
  EXPECT_EQ(recovery.Line("THM at " + std::to_string(card.at[11]) + ":"),
            "THM at " + std::to_string(card.at[11]) +
                ": not written: CRW_0007.CRW and CRW_0008.CRW were shot in its second (2003-11-10 17:39:46) and no "
                "file number tells which it belongs to");
  EXPECT_NE(RecoverySummaryLine(recovery.summary)
                .find("; 4 THM files written beside their CRW files; 2 THM files match no CRW file written, not written"),
            std::string::npos);
  EXPECT_EQ(recovery.summary.files[0].thm, folder / "CRW_0001.THM");
}

TEST(Thms, MatchingTellsPhotosOfOneSecondApartByFileNumberOnly) {
  const auto thm = [](std::int64_t time, std::uint32_t number) {
    ThmFile file;
    file.shotTime = time;
    file.fileNumber = number;
    return file;
  };
  using Kind = ThmMatch::Kind;
  const std::vector<PhotoShot> photos = {{100, 1, ""}, {100, 2, ""}, {200, 3, ""}, {300, 0, ""}, {std::nullopt, 5, ""}};
  const std::vector<ThmMatch> matches =
      MatchThms(photos, {thm(100, 2), thm(100, 0), thm(200, 4), thm(300, 9), thm(400, 0), thm(200, 3)});
  EXPECT_EQ(matches[0].kind, Kind::kMatched);
  EXPECT_EQ(matches[0].photo, 1);
  // The other THM of that second: the one photo left.
  EXPECT_EQ(matches[1].kind, Kind::kMatched);
  EXPECT_EQ(matches[1].photo, 0);
  EXPECT_EQ(matches[2].kind, Kind::kNoPhoto);  // another photo's number
  EXPECT_EQ(matches[3].kind, Kind::kMatched);  // the photo names no number: its time decides
  EXPECT_EQ(matches[3].photo, 3);
  EXPECT_EQ(matches[4].kind, Kind::kNoPhoto);
  EXPECT_EQ(matches[5].photo, 2);
  // A burst whose THMs carry no number: the card's directory names decide, a
  // deleted entry's lost first letter agreeing with any; a name that two
  // photos share (two cameras) decides nothing.
  std::vector<ThmFile> named = {thm(500, 0), thm(500, 0), thm(600, 0)};
  named[0].directoryStem = "CRW_0011";
  named[1].directoryStem = "?RW_0010";
  named[2].directoryStem = "CRW_0012";
  const std::vector<ThmMatch> byName = MatchThms(
      {{500, 0, "CRW_0010"}, {500, 0, "CRW_0011"}, {600, 0, "CRW_0012"}, {600, 0, "CRW_0012"}}, named);
  EXPECT_EQ(byName[0].photo, 1);
  EXPECT_EQ(byName[1].photo, 0);
  EXPECT_EQ(byName[2].kind, Kind::kTied);
  EXPECT_EQ(byName[2].tied, (std::vector<int>{2, 3}));
  // Two THMs of one photo's second, neither with a number: neither is guessed.
  const std::vector<ThmMatch> twice = MatchThms({{100, 0, ""}}, {thm(100, 0), thm(100, 0)});
  EXPECT_EQ(twice[0].kind, Kind::kTied);
  EXPECT_EQ(twice[1].kind, Kind::kTied);
}

TEST(DamagedPictures, ADamagedFileGivesItsJpegWhenItLiesWholeInTheBytesKept) {
  const Bytes picture = MakeJpeg(320, 240);
  Card card;
  // Cut inside its raw data: the JPEG stored before it is whole.
  Bytes first = Photo({"CRW_0001.CRW", 1000001, kShot, 40000, true, picture});
  card.Add(Prefix(first, first.size() - 30000));
  card.Add(Photo({"CRW_0002.CRW", 1000002, kShot + 1}));
  // Cut inside its JPEG: nothing to give.
  Bytes second = Photo({"CRW_0003.CRW", 1000003, kShot + 2, 40000, true, picture});
  card.Add(Prefix(second, 26 + picture.size() / 2));
  card.Add(Photo({"CRW_0004.CRW", 1000004, kShot + 3}));
  // Its JPEG after the raw data, which the cut took.
  const Bytes third = Photo({"CRW_0005.CRW", 1000005, kShot + 4, 40000, false, picture});
  card.bytes.resize(card.bytes.size() + kCluster);
  card.Add(Prefix(third, 20000));
  ScratchFolder folder;
  const Recovery recovery = Recover(card, folder);

  EXPECT_EQ(recovery.summary.damaged, 3);
  const std::string whole = "CRW_at_" + std::to_string(card.at[0]);
  EXPECT_EQ(ReadFile(folder / (whole + ".jpg")), picture);
  const std::string line = recovery.Line("At " + std::to_string(card.at[0]) + ":");
  EXPECT_TRUE(line.ends_with("; its JPEG, 320x240, written")) << line;
  for (const std::size_t at : {card.at[2], card.at[4]}) {
    EXPECT_TRUE(std::filesystem::exists(folder.path() / ("CRW_at_" + std::to_string(at) + ".damaged")));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / ("CRW_at_" + std::to_string(at) + ".jpg")));
    EXPECT_EQ(recovery.Line("At " + std::to_string(at) + ":").find("its JPEG"), std::string::npos);
  }
  // The grid shows the JPEG of the one that has it.
  for (const RecoveredFile& file : recovery.summary.files) {
    if (!file.damaged) continue;
    EXPECT_EQ(file.thumbnail, file.path == folder / (whole + ".damaged") ? folder / (whole + ".jpg") : "") << file.path;
  }
}

}  // namespace
}  // namespace mendrake::testing
