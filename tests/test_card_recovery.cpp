// Card recovery: CRW files placed at cluster boundaries of a card image among
// other bytes come back byte-exact, named, with thumbnails; what cannot be
// recovered is kept as damaged; read errors are skipped.
#include "recovery/CardRecovery.h"
#include "analysis/RootHeapEnd.h"
#include "recovery/CrwEnd.h"
#include "recovery/FileSignatures.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FatCard.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <filesystem>

namespace mendrake::testing {
namespace {

constexpr std::size_t kCluster = 32 * 1024;

// A card held in memory whose reads fail from failAt for failLength bytes.
class MemoryCard final : public CardReader {
 public:
  explicit MemoryCard(Bytes bytes, std::int64_t failAt = -1, std::int64_t failLength = 0)
      : bytes_(std::move(bytes)), failAt_(failAt), failEnd_(failAt + failLength) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override {
    if (failAt_ >= 0 && offset < failEnd_ && offset + count > failAt_) return -1;
    const std::int64_t n = std::min(count, Size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
    return n;
  }

 private:
  Bytes bytes_;
  std::int64_t failAt_, failEnd_;
};

Bytes CameraFile(bool bigEndian, std::size_t rawSize) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.rawDataSize = rawSize;
  options.thumbnail = MakeJpeg(16, 16);
  return MakeCameraFile(options);
}

struct Card {
  Bytes bytes;
  std::vector<std::pair<std::size_t, Bytes>> files;  // placed at, content
  void Place(std::size_t at, Bytes file) {
    PlaceAt(bytes, at, file);
    files.emplace_back(at, std::move(file));
  }
};

// Random bytes, a JPEG, zeros; a little-endian file, a big-endian one, two
// back to back; a last one cut by the end of the card.
Card UsedCard() {
  Card card;
  AppendJunk(card.bytes, JunkKind::kRandom, 40 * kCluster, 7);
  PlaceAt(card.bytes, 2 * kCluster, MakeJpeg(64, 64));
  card.Place(4 * kCluster, CameraFile(false, 50000));
  card.Place(8 * kCluster, CameraFile(true, 70000));
  // The next file starts at the first cluster after this one's end.
  Bytes third = CameraFile(false, 2 * kCluster);
  const std::size_t fourthAt = (12 * kCluster + third.size() + kCluster - 1) / kCluster * kCluster;
  card.Place(12 * kCluster, std::move(third));
  card.Place(fourthAt, CameraFile(false, 20000));
  PlaceAt(card.bytes, 20 * kCluster, Filler(4 * kCluster, 0));
  PlaceAt(card.bytes, 40 * kCluster - 4096, Prefix(CameraFile(false, 20000), 3000));
  return card;
}

TEST(CardRecovery, RecoversEveryFileByteExactAndKeepsTheCutOneAsDamaged) {
  ScratchFolder folder;
  const Card card = UsedCard();
  MemoryCard reader(card.bytes);
  LogLines log;
  const RecoverySummary summary = RecoverCard(reader, folder.path().string(), log);

  EXPECT_EQ(summary.recovered, 4);
  EXPECT_EQ(summary.damaged, 1);
  // Every builder file carries file number 1: names never repeat, in card order.
  const std::vector<std::string> names = {"CRW_0001.CRW", "CRW_0001 (2).CRW", "CRW_0001 (3).CRW", "CRW_0001 (4).CRW"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(ReadFile(folder / names[i]), card.files[i].second) << names[i];
    EXPECT_TRUE(std::filesystem::exists(folder.path() / (names[i].substr(0, names[i].size() - 4) + ".jpg")));
    EXPECT_EQ(log.Lines()[i], "At " + std::to_string(card.files[i].first) + ": " + names[i] + ", " +
                                  std::to_string(card.files[i].second.size()) + " bytes, Canon EOS D60");
  }
  const std::size_t cutAt = 40 * kCluster - 4096;
  EXPECT_EQ(ReadFile(folder / ("CRW_at_" + std::to_string(cutAt) + ".damaged")),
            Bytes(card.bytes.begin() + static_cast<std::ptrdiff_t>(cutAt), card.bytes.end()));
  EXPECT_NE(log.Lines()[4].find("cut by the end of the card"), std::string::npos);
  // A piece waited for its end: the grid it was looked for on is logged.
  // The cut one lies 4 KiB before a cluster's end: the headers share that grid.
  EXPECT_EQ(log.Lines()[5], "Clusters of 4 KiB from byte 0 (no boot sector; inferred from where 5 headers lie)");
  EXPECT_EQ(log.Lines().back(), RecoverySummaryLine(summary));
}

TEST(CardRecovery, AFileWithATrailerComesBackWholeButAThmAfterAPhotoIsNoTrailer) {
  // A tool's trailer of nearly the longest length that still counts, which
  // repeats the heap's pointer, then a used card's old bytes for longer than
  // a trailer: the file is the heap and its trailer, however soon after its
  // heap closes the scan settles it.
  ScratchFolder folder;
  Bytes photo = CameraFile(false, 3 * kCluster);
  const Bytes pointer(photo.end() - 4, photo.end());
  AppendJunk(photo, JunkKind::kRandom, static_cast<std::size_t>(kMaxRootHeapTrailer) - 4 * kCluster, 5);
  photo.insert(photo.end(), pointer.begin(), pointer.end());
  Card card;
  AppendJunk(card.bytes, JunkKind::kRandom, 160 * kCluster, 9);
  card.Place(4 * kCluster, photo);
  MemoryCard reader(card.bytes);
  LogLines log;
  const RecoverySummary summary = RecoverCard(reader, folder.path().string(), log);

  EXPECT_EQ(summary.recovered, 1);
  EXPECT_EQ(ReadFile(folder / "CRW_0001.CRW"), photo);

  // A THM in the cluster after a photo, whose bytes repeat the photo's
  // pointer by chance: a camera's file begins past the heap, so they are no
  // trailer, and the photo ends with its heap.
  ScratchFolder thmFolder;
  const Bytes heap = CameraFile(false, 2 * kCluster);
  Card thmCard;
  AppendJunk(thmCard.bytes, JunkKind::kRandom, 16 * kCluster, 11);
  thmCard.Place(4 * kCluster, heap);
  Bytes thm = MakeJpeg(32, 24);
  std::copy(heap.end() - 4, heap.end(), thm.begin() + 8);
  PlaceAt(thmCard.bytes, (4 + heap.size() / kCluster + 1) * kCluster, thm);
  MemoryCard thmReader(thmCard.bytes);
  LogLines thmLog;
  EXPECT_EQ(RecoverCard(thmReader, thmFolder.path().string(), thmLog).recovered, 1);
  EXPECT_EQ(ReadFile(thmFolder / "CRW_0001.CRW"), heap);
}

TEST(CardRecovery, NeverReplacesAFileAlreadyInTheFolder) {
  ScratchFolder folder;
  const Bytes kept = {1, 2, 3};
  folder.Write("CRW_0001.jpg", kept);
  Card card;
  AppendJunk(card.bytes, JunkKind::kRandom, 4 * kCluster, 3);
  card.Place(kCluster, CameraFile(false, 10000));
  MemoryCard reader(card.bytes);
  LogLines log;
  EXPECT_EQ(RecoverCard(reader, folder.path().string(), log).recovered, 1);
  EXPECT_EQ(ReadFile(folder / "CRW_0001.jpg"), kept);
  EXPECT_EQ(ReadFile(folder / "CRW_0001 (2).CRW"), card.files[0].second);
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "CRW_0001 (2).jpg"));

  // The same card again: its files are there already, byte for byte, and no copies are added.
  const std::vector<std::string> before = folder.Entries();
  EXPECT_EQ(RecoverCard(reader, folder.path().string(), log).recovered, 1);
  EXPECT_EQ(folder.Entries(), before);
  const std::string line = "At " + std::to_string(card.files[0].first) + ": CRW_0001 (2).CRW, " +
                           std::to_string(card.files[0].second.size()) + " bytes, Canon EOS D60";
  EXPECT_EQ(std::count(log.Lines().begin(), log.Lines().end(), line), 2);

  // One photo twice on a card: kept once, and the second line says why no second file is there.
  ScratchFolder other;
  card.Place(3 * kCluster, card.files[0].second);
  MemoryCard twice(card.bytes);
  LogLines twiceLog;
  EXPECT_EQ(RecoverCard(twice, other.path().string(), twiceLog).recovered, 2);
  EXPECT_EQ(other.Entries().size(), 2u);
  EXPECT_NE(twiceLog.Lines()[1].find("CRW_0001.CRW, " + std::to_string(card.files[0].second.size()) +
                                     " bytes, Canon EOS D60; the same bytes as a file found before, kept once"),
            std::string::npos)
      << twiceLog.Lines()[1];
}

TEST(CardRecovery, AReadErrorSkipsItsSectorsOnceAndTheScanGoesOn) {
  ScratchFolder folder;
  const Card card = UsedCard();
  const std::int64_t badAt = 30 * kCluster + 1024;
  MemoryCard reader(card.bytes, badAt, 1024);
  LogLines log;
  const RecoverySummary summary = RecoverCard(reader, folder.path().string(), log);
  EXPECT_EQ(summary.recovered, 4);
  EXPECT_EQ(summary.scanned, static_cast<std::int64_t>(card.bytes.size()));
  const std::string errorLine = "Read error at bytes " + std::to_string(badAt) + " to " +
                                std::to_string(badAt + 1023) + ": skipped, read as zeros";
  EXPECT_EQ(std::count(log.Lines().begin(), log.Lines().end(), errorLine), 1);
}

TEST(CardRecovery, CancelStopsTheScanAndWritesNothingMore) {
  ScratchFolder folder;
  const Card card = UsedCard();
  MemoryCard reader(card.bytes);
  LogLines log;
  const RecoverySummary summary =
      RecoverCard(reader, folder.path().string(), log, [](const RecoveryProgress&) { return false; });
  EXPECT_TRUE(summary.cancelled);
  EXPECT_TRUE(folder.Entries().empty());
}

TEST(CardRecovery, TheCameraIsNamedOnceAndOneFileIsSaidInTheSingular) {
  struct Case {
    std::string make, model, shown;
  };
  const std::vector<Case> cases = {
      {"Canon", "Canon EOS DIGITAL REBEL", "Canon EOS DIGITAL REBEL"},
      {"CANON", "Canon PowerShot G2", "Canon PowerShot G2"},
      {"Canon", "EOS D30", "Canon EOS D30"},
      {"Canon", "Canonet", "Canon Canonet"},
      {"", "EOS D30", "EOS D30"},
      {"Canon", "", "Canon"},
  };
  for (const Case& c : cases) {
    CameraFileOptions options;
    options.make = c.make;
    options.model = c.model;
    FileImage window, scratch;
    const Bytes file = MakeCameraFile(options);
    window.Assign(file.data(), static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(FindCrwEnd(window, scratch).makeAndModel, c.shown) << c.make << " / " << c.model;
  }
  RecoverySummary summary;
  summary.recovered = 1;
  summary.scanned = 3 << 20;
  EXPECT_EQ(RecoverySummaryLine(summary), "Recovered 1 CRW file, 0 damaged, from 3.0 MiB in 0.0 s");
  summary.recovered = 2;
  EXPECT_EQ(RecoverySummaryLine(summary), "Recovered 2 CRW files, 0 damaged, from 3.0 MiB in 0.0 s");
}

// crwlog --recover as scripts call it: the exit status tells the three outcomes.
int Recover(const std::string& image, const std::string& folder) {
  const std::string command = std::string("'") + MENDRAKE_BIN_DIR + "/crwlog' --recover '" + image + "' '" + folder +
                              "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CardRecovery, CrwlogExitsZeroWhenAllWereRecoveredOneWhenSomeWereNotTwoWhenTheCardIsUnusable) {
  ScratchFolder folder;
  Card whole;
  AppendJunk(whole.bytes, JunkKind::kZeros, 4 * kCluster, 1);
  whole.Place(kCluster, CameraFile(true, 10000));
  EXPECT_EQ(Recover(folder.Write("whole.img", whole.bytes), folder / "out/new"), 0);
  EXPECT_EQ(ReadFile(folder / "out/new/CRW_0001.CRW"), whole.files[0].second);
  EXPECT_EQ(Recover(folder.Write("cut.img", Prefix(whole.bytes, kCluster + 5000)), folder / "cut"), 1);
  EXPECT_EQ(Recover(folder.Write("empty.img", Bytes(kCluster, 0)), folder / "none"), 1);
  EXPECT_EQ(Recover(folder / "missing.img", folder / "missing"), 2);
  // No CRW came back: the one on the card is still listed, and left there.
  FatCard listed(folder / "listed.img", folder.path().string(), 16, 4);
  listed.Write("IMG_0001.CRW", CameraFile(false, 10000));
  EXPECT_EQ(Recover(listed.Path(), folder / "listed"), 1);
  // A file where the folder should be is no output folder.
  EXPECT_EQ(Recover(folder / "whole.img", folder.Write("taken", Bytes(1, 0))), 2);
}

TEST(CardRecovery, AHeaderIsRecognisedAndDecodedInOnePlace) {
  for (const bool big : {false, true}) {
    CrwFile file;
    file.bigEndian = big;
    file.headerLength = 32;
    file.root.Record(0x2005, Filler(16, 1));
    const Bytes bytes = file.Build();
    const std::optional<CrwHeader> header = CrwHeaderAt(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bigEndian, big);
    EXPECT_EQ(header->length, 32u);
    EXPECT_TRUE(CameraFileBeginsAt(bytes.data(), static_cast<std::int64_t>(bytes.size())));
    EXPECT_FALSE(CrwHeaderAt(bytes.data(), kSignatureBytes - 1));
    Bytes mixed = bytes;
    mixed[1] = big ? 'I' : 'M';
    EXPECT_FALSE(CrwHeaderAt(mixed.data(), static_cast<std::int64_t>(mixed.size())));
    Bytes other = bytes;
    other[13] = 'X';
    EXPECT_FALSE(CrwHeaderAt(other.data(), static_cast<std::int64_t>(other.size())));
  }
}

}  // namespace
}  // namespace mendrake::testing
