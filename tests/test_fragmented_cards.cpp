// Files written in two pieces come back whole: on FAT16 cards filled by
// mtools, which gives a file the first free clusters as cameras do, and on
// cards built by hand for the cases mtools does not make. Each joined file's
// line says so; what cannot be joined surely stays damaged, with the reason.
#include "devices/DeviceReader.h"
#include "recovery/CardRecovery.h"
#include "recovery/DirectoryEvidence.h"
#include "recovery/PieceJoin.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FatCard.h"
#include "tests/support/FlakyCardReader.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PhotoFile.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>

namespace mendrake::testing {
namespace {

// Clusters of 2 KiB keep the cards small: 16 MiB is 8,000 clusters, FAT16.
constexpr int kSectorsPerCluster = 4;
constexpr int kCardMiB = 16;

// A camera file of its own bytes: the white balance makes every shot differ.
Bytes Shot(std::uint16_t number, std::size_t rawSize, bool bigEndian = false) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.rawDataSize = rawSize;
  options.whiteBalance = number;
  options.thumbnail = MakeJpeg(24, 16);
  return MakeCameraFile(options);
}

// A shot whose raw data is its own: every cluster of it differs from every
// other shot's, so that a file glued from two shots' pieces differs from both.
// No byte is zero (no directory count) or FF (no marker).
Bytes OwnRawShot(std::uint16_t number, std::size_t rawSize, bool bigEndian = false) {
  Bytes shot = Shot(number, rawSize, bigEndian);
  constexpr std::size_t kRawDataAt = 26;  // the raw data is the root's first record
  for (std::size_t i = 0; i < rawSize; ++i) {
    shot[kRawDataAt + i] = static_cast<std::uint8_t>(0x21 + (number * 37 + i / 512 + i % 7) % 0xD0);
  }
  return shot;
}

// Two small shots a cluster apart, at the start of a hand-built card: the
// grid inferred from the headers is then the cluster, wherever the rest lie.
std::vector<Bytes> GridMarks() { return {Shot(98, 500), Shot(99, 500)}; }

struct Recovery {
  RecoverySummary summary;
  LogLines log;
  std::map<std::string, Bytes> files;  // by name, as written
  // Every CRW written is one of the shots placed: none is put together from
  // the pieces of two.
  void ExpectNoWrongCrw(const std::vector<Bytes>& placed) const {
    std::set<Bytes> shots(placed.begin(), placed.end());
    for (const Bytes& mark : GridMarks()) shots.insert(mark);
    for (const auto& [name, content] : files) {
      if (name.ends_with(".CRW")) {
        EXPECT_TRUE(shots.count(content)) << name << " is no photo of the card: " << LineOf(name);
      }
    }
  }
  std::string Log() const {
    std::string text;
    for (const std::string& line : log.Lines()) text += line + "\n";
    return text;
  }
  // The line that names file, or an empty string.
  std::string LineOf(const std::string& file) const {
    for (const std::string& line : log.Lines()) {
      if (line.find(": " + file + ",") != std::string::npos) return line;
    }
    return {};
  }
  // The photo was written as a CRW file whose line says it was joined from two pieces.
  void ExpectJoinedFromTwoPieces(const Bytes& photo) const {
    const std::string name = NameOf(photo);
    ASSERT_FALSE(name.empty()) << Log();
    EXPECT_NE(LineOf(name).find(", joined from two pieces "), std::string::npos);
  }
  // The name under which bytes were written, or an empty string.
  std::string NameOf(const Bytes& bytes) const {
    for (const auto& [name, content] : files) {
      if (content == bytes) return name;
    }
    return {};
  }
};

Recovery Recover(const std::string& image, const std::string& folder, bool all = false) {
  Recovery recovery;
  std::filesystem::create_directories(folder);
  DeviceReader card(image);
  RecoveryOptions options;
  options.all = all;
  recovery.summary = RecoverCard(card, folder, recovery.log, {}, options);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    recovery.files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return recovery;
}

// The gap between a file's two runs of clusters, in clusters.
int GapOf(const std::vector<std::pair<int, int>>& runs) {
  EXPECT_EQ(runs.size(), 2u);
  return runs.size() == 2 ? runs[1].first - runs[0].second - 1 : -1;
}

// Six shots of 50 to 53 clusters; the second and fourth deleted in the
// camera; a larger shot fills the second's hole and goes on in the fourth's;
// a camera JPEG fills part of what is left of it, and a big-endian shot the
// rest, going on after the sixth.
struct FilledCard {
  FatCard card;
  std::map<std::string, Bytes> shots;
  FilledCard(const ScratchFolder& folder)
      : card(folder / "card.img", folder.path().string(), kCardMiB, kSectorsPerCluster) {
    const std::size_t extraClusters[] = {1, 0, 2, 1, 3, 0};
    for (std::uint16_t n = 1; n <= 6; ++n) {
      Add("IMG_" + std::to_string(n) + ".CRW", Shot(n, 100000 + 2048 * extraClusters[n - 1]));
    }
    card.Delete("IMG_2.CRW");
    card.Delete("IMG_4.CRW");
    shots.erase("IMG_2.CRW");
    shots.erase("IMG_4.CRW");
    Add("IMG_7.CRW", Shot(7, 150000));
    card.Write("IMG_8.JPG", MakeJpeg(160, 120));
    Add("IMG_9.CRW", Shot(9, 120000, true));
  }
  void Add(const std::string& name, Bytes shot) {
    card.Write(name, shot);
    shots[name] = std::move(shot);
  }
  void DeleteAll() {
    for (const auto& [name, shot] : shots) card.Delete(name);
    card.Delete("IMG_8.JPG");
  }
};

TEST(FragmentedCards, FirstFitSplitsComeBackJoinedWithTheGapInTheirLines) {
  ScratchFolder folder;
  FilledCard filled(folder);
  const int gap7 = GapOf(filled.card.Runs("IMG_7.CRW"));
  const int gap9 = GapOf(filled.card.Runs("IMG_9.CRW"));
  const auto jpegRuns = filled.card.Runs("IMG_8.JPG");
  // The big-endian shot's first piece is followed by the camera's JPEG.
  ASSERT_EQ(filled.card.Runs("IMG_9.CRW")[0].first, jpegRuns.back().second + 1);
  filled.DeleteAll();

  const Recovery recovery = Recover(filled.card.Path(), folder / "out");
  ASSERT_EQ(filled.card.ClusterStart(2), 51200);
  EXPECT_EQ(recovery.log.Lines().front(), "Clusters of 2 KiB from byte 51,200 (FAT16)");
  for (const auto& [name, shot] : filled.shots) {
    const std::string written = recovery.NameOf(shot);
    EXPECT_FALSE(written.empty()) << name << " did not come back byte for byte";
  }
  EXPECT_NE(recovery.LineOf(recovery.NameOf(filled.shots["IMG_7.CRW"]))
                .find(", joined from two pieces " + std::to_string(gap7) + " clusters apart"),
            std::string::npos);
  EXPECT_NE(recovery.LineOf(recovery.NameOf(filled.shots["IMG_9.CRW"]))
                .find(", joined from two pieces " + std::to_string(gap9) + " clusters apart"),
            std::string::npos);
  EXPECT_EQ(recovery.summary.recovered, 6);
  EXPECT_EQ(recovery.summary.joined, 2);
  EXPECT_EQ(recovery.summary.damaged, 0);
  EXPECT_EQ(recovery.log.Lines().back(), RecoverySummaryLine(recovery.summary));
  EXPECT_NE(recovery.log.Lines().back().find("(2 joined from two pieces)"), std::string::npos);
}

TEST(FragmentedCards, AnEndThatLinesUpWithTheHeaderOfAFileOfOneSizeGoesToItsOwnFile) {
  // Shots of one length; the second deleted; a longer one fills its hole and
  // goes on after the sixth, whose length is its first piece's: the longer
  // one's end lies as far from the sixth's header as a file of its length
  // would, and the sixth's heap walks to it as well as to its own end.
  ScratchFolder folder;
  FatCard card(folder / "card.img", folder.path().string(), kCardMiB, kSectorsPerCluster);
  std::map<std::string, Bytes> shots;
  for (std::uint16_t n = 1; n <= 6; ++n) shots["IMG_" + std::to_string(n) + ".CRW"] = Shot(n, 100000);
  for (const auto& [name, shot] : shots) card.Write(name, shot);
  card.Delete("IMG_2.CRW");
  shots.erase("IMG_2.CRW");
  shots["IMG_7.CRW"] = Shot(7, 300000);
  card.Write("IMG_7.CRW", shots["IMG_7.CRW"]);
  const auto runs = card.Runs("IMG_7.CRW");
  ASSERT_EQ(runs.size(), 2u);
  ASSERT_EQ(runs[0].second - runs[0].first, card.Runs("IMG_6.CRW")[0].second - card.Runs("IMG_6.CRW")[0].first);
  for (const auto& [name, shot] : shots) card.Delete(name);

  const Recovery recovery = Recover(card.Path(), folder / "out");
  for (const auto& [name, shot] : shots) EXPECT_FALSE(recovery.NameOf(shot).empty()) << name;
  EXPECT_EQ(recovery.summary.joined, 1);
  EXPECT_EQ(recovery.summary.damaged, 0);
}

TEST(FragmentedCards, WhereTheFatSurvivesListedFilesAreCountedAndDeletedOnesJoinedAroundThem) {
  ScratchFolder folder;
  FilledCard filled(folder);
  const int gap7 = GapOf(filled.card.Runs("IMG_7.CRW"));
  filled.card.Delete("IMG_7.CRW");

  const Recovery deleted = Recover(filled.card.Path(), folder / "deleted");
  EXPECT_EQ(deleted.summary.recovered, 1);
  EXPECT_EQ(deleted.summary.listed, 5);
  EXPECT_EQ(deleted.files.size(), 2u);  // the shot and its thumbnail
  EXPECT_NE(deleted.LineOf(deleted.NameOf(filled.shots["IMG_7.CRW"]))
                .find(", joined from two pieces " + std::to_string(gap7) +
                      " clusters apart (the card's FAT lists the clusters between)"),
            std::string::npos);
  EXPECT_NE(std::find(deleted.log.Lines().begin(), deleted.log.Lines().end(), ListedFilesLine(5)),
            deleted.log.Lines().end());

  // All of them, the listed ones too: the split ones are joined by their ends.
  const Recovery all = Recover(filled.card.Path(), folder / "all", true);
  for (const auto& [name, shot] : filled.shots) EXPECT_FALSE(all.NameOf(shot).empty()) << name;
  EXPECT_EQ(all.summary.listed, 0);
  EXPECT_EQ(all.summary.joined, 2);
}

TEST(FragmentedCards, AQuickFormattedCardAndACardWithoutItsBootSectorAreScannedAlike) {
  ScratchFolder folder;
  FilledCard filled(folder);
  filled.card.QuickFormat();
  const Recovery formatted = Recover(filled.card.Path(), folder / "formatted");
  for (const auto& [name, shot] : filled.shots) EXPECT_FALSE(formatted.NameOf(shot).empty()) << name;
  EXPECT_EQ(formatted.summary.joined, 2);
  EXPECT_EQ(formatted.summary.listed, 0);

  // Boot sector and tables overwritten: the grid comes from the headers.
  Bytes image = ReadFile(filled.card.Path());
  std::fill(image.begin(), image.begin() + filled.card.ClusterStart(2), 0);
  const std::string bare = folder.Write("bare.img", image);
  const Recovery recovery = Recover(bare, folder / "bare");
  for (const auto& [name, shot] : filled.shots) EXPECT_FALSE(recovery.NameOf(shot).empty()) << name;
  EXPECT_EQ(recovery.summary.joined, 2);
  const std::string& gridLine = recovery.log.Lines().end()[-2];
  EXPECT_TRUE(gridLine.starts_with("Clusters of 2 KiB from byte ")) << gridLine;
  EXPECT_NE(gridLine.find("no boot sector; inferred from where"), std::string::npos) << gridLine;
}

// A card built by hand on a grid of 2 KiB clusters, without a boot sector.
constexpr std::size_t kCluster = 2048;

std::size_t Clusters(std::size_t bytes) { return (bytes + kCluster - 1) / kCluster; }

TEST(FragmentedCards, TwoPiecesThatAnEndFitsEquallyStayDamagedAndSaySo) {
  // Two split shots of one size and one first-piece length: the end of either
  // fits both headers, and nothing on the card tells which is whose.
  ScratchFolder folder;
  const Bytes first = Shot(1, 60000);
  const Bytes second = Shot(2, 60000);
  const Bytes whole1 = Shot(3, 30000);
  const Bytes whole2 = Shot(4, 30000);
  const std::size_t piece = 10 * kCluster;
  Bytes card(4 * kCluster, 0);
  const std::size_t firstAt = card.size();
  PlaceAt(card, firstAt, Prefix(first, piece));
  PlaceAt(card, firstAt + piece, whole1);
  const std::size_t secondAt = firstAt + piece + Clusters(whole1.size()) * kCluster;
  PlaceAt(card, secondAt, Prefix(second, piece));
  PlaceAt(card, secondAt + piece, whole2);
  const std::size_t tailsAt = secondAt + piece + Clusters(whole2.size()) * kCluster;
  PlaceAt(card, tailsAt, Bytes(first.begin() + piece, first.end()));
  PlaceAt(card, tailsAt + Clusters(first.size() - piece) * kCluster, Bytes(second.begin() + piece, second.end()));
  card.resize(card.size() + 8 * kCluster);

  const Recovery recovery = Recover(folder.Write("card.img", card), folder / "out");
  EXPECT_FALSE(recovery.NameOf(whole1).empty());
  EXPECT_FALSE(recovery.NameOf(whole2).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  EXPECT_EQ(recovery.summary.damaged, 2);
  const std::string firstLine = recovery.LineOf("CRW_at_" + std::to_string(firstAt) + ".damaged");
  EXPECT_NE(firstLine.find("fits the headers at " + std::to_string(firstAt) + " and " + std::to_string(secondAt) +
                           " equally, so neither is joined by guess"),
            std::string::npos)
      << firstLine;
  EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(secondAt) + ".damaged").empty());
}

TEST(FragmentedCards, AJoinThatFailsValidationStaysDamagedWithTheReason) {
  ScratchFolder folder;
  Bytes shot = Shot(1, 60000);
  const Bytes whole = Shot(2, 20000);
  const std::size_t piece = 10 * kCluster;
  // The thumbnail lies in the second piece; its start-of-image marker is gone.
  const std::size_t thumbnail = 26 + 60000;
  ASSERT_EQ(shot[thumbnail], 0xFF);
  ASSERT_EQ(shot[thumbnail + 1], 0xD8);
  shot[thumbnail + 1] = 0x00;
  Bytes card(2 * kCluster, 0);
  PlaceAt(card, card.size(), Prefix(shot, piece));
  PlaceAt(card, 2 * kCluster + piece, whole);
  const std::size_t tailAt = 2 * kCluster + piece + Clusters(whole.size()) * kCluster;
  PlaceAt(card, tailAt, Bytes(shot.begin() + piece, shot.end()));
  card.resize(card.size() + 4 * kCluster);

  const Recovery recovery = Recover(folder.Write("card.img", card), folder / "out");
  EXPECT_EQ(recovery.summary.recovered, 1);
  EXPECT_EQ(recovery.summary.damaged, 1);
  const std::string name = "CRW_at_" + std::to_string(2 * kCluster) + ".damaged";
  EXPECT_EQ(recovery.files.at(name), Prefix(shot, piece));
  EXPECT_NE(recovery.LineOf(name).find("the joined file fails its check: the thumbnail does not begin with a "
                                       "start-of-image marker"),
            std::string::npos)
      << recovery.LineOf(name);
}

// Readings that arithmetic and structure allow but that are no photo of the
// card. Their raw data is of no kind the decoder knows, so the files around
// each seam must fix it; every one must stay damaged or come back as placed.

// A hand-built card: the pieces placed one after another on whole clusters.
struct HandCard {
  Bytes bytes = Bytes(4 * kCluster, 0);
  HandCard() {
    for (const Bytes& mark : GridMarks()) Add(mark);
  }
  // Places bytes at the next cluster start and returns where.
  std::size_t Add(const Bytes& piece) {
    const std::size_t at = bytes.size();
    PlaceAt(bytes, at, piece);
    bytes.resize(at + Clusters(piece.size()) * kCluster, 0);
    return at;
  }
  Bytes Finished() const {
    Bytes card = bytes;
    card.resize(card.size() + 8 * kCluster, 0);
    return card;
  }
};

Bytes Suffix(const Bytes& bytes, std::size_t from) { return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()); }
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST(FoolingJoins, TwoFirstPiecesInHolesOfOneSizeAreATieNotASwap) {
  // Two photos of different lengths, each begun in a hole of ten clusters and
  // continued later: the end of either fits both first pieces, and the
  // structure of both readings holds.
  ScratchFolder folder;
  const Bytes a = OwnRawShot(1, 70000), b = OwnRawShot(2, 50000);
  const Bytes whole1 = OwnRawShot(3, 30000), whole2 = OwnRawShot(4, 30000);
  const std::size_t piece = 10 * kCluster;
  HandCard card;
  const std::size_t aAt = card.Add(Prefix(a, piece));
  card.Add(whole1);
  const std::size_t bAt = card.Add(Prefix(b, piece));
  card.Add(whole2);
  card.Add(Suffix(a, piece));
  card.Add(Suffix(b, piece));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a, b, whole1, whole2});
  EXPECT_FALSE(recovery.NameOf(whole1).empty());
  EXPECT_FALSE(recovery.NameOf(whole2).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  EXPECT_EQ(recovery.summary.damaged, 2);
  EXPECT_NE(recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged")
                .find("fits the headers at " + std::to_string(aAt) + " and " + std::to_string(bAt) + " equally"),
            std::string::npos)
      << recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(bAt) + ".damaged").empty());
}

TEST(FoolingJoins, TheEndOfAnOverwrittenPhotoIsNotGluedToAWaitingFirstPiece) {
  // The first piece's own end is gone; a photo whose start a smaller one
  // overwrote still ends further on, and its heap fits the first piece.
  ScratchFolder folder;
  const Bytes a = OwnRawShot(1, 60000), overwritten = OwnRawShot(5, 80000);
  const Bytes before = OwnRawShot(2, 20000), next = OwnRawShot(3, 20000), small = OwnRawShot(6, 8000);
  HandCard card;
  card.Add(before);
  const std::size_t aAt = card.Add(Prefix(a, 10 * kCluster));
  card.Add(next);
  const std::size_t smallAt = card.Add(small);
  card.bytes.resize(smallAt);
  PlaceAt(card.bytes, smallAt, overwritten);
  PlaceAt(card.bytes, smallAt, small);
  card.bytes.resize(smallAt + Clusters(overwritten.size()) * kCluster);
  card.Add(OwnRawShot(4, 20000));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a, before, next, small, overwritten, OwnRawShot(4, 20000)});
  EXPECT_FALSE(recovery.NameOf(small).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  const std::string line = recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_NE(line.find("no file ends right before its second piece"), std::string::npos) << line;
}

TEST(FoolingJoins, AFileInThreePiecesIsNotJoinedFromTwoWithoutItsMiddle) {
  // First piece, a photo, a middle piece of three clusters, a JPEG, the last
  // piece: the two-piece reading's second piece is the JPEG's last clusters
  // and the last piece. Its raw data is of no kind the decoder knows, so no
  // decode finds its middle piece either (a photo whose raw data decodes
  // comes back from three pieces: PieceChainJoins).
  ScratchFolder folder;
  const Bytes a = OwnRawShot(1, 120000);
  Bytes jpeg = MakeJpeg(24, 16);
  jpeg.insert(jpeg.end() - 2, 12 * kCluster, 0x33);
  const Bytes first = OwnRawShot(2, 20000), between = OwnRawShot(3, 20000), last = OwnRawShot(4, 20000);
  const std::size_t piece1 = 30 * kCluster, piece2 = 3 * kCluster;
  HandCard card;
  card.Add(first);
  const std::size_t aAt = card.Add(Prefix(a, piece1));
  card.Add(between);
  card.Add(Bytes(a.begin() + piece1, a.begin() + piece1 + piece2));
  card.Add(jpeg);
  card.Add(Suffix(a, piece1 + piece2));
  card.Add(last);

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a, first, between, last});
  EXPECT_EQ(recovery.summary.recovered, 3 + 2);
  EXPECT_EQ(recovery.summary.joined, 0);
  EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged").empty());
  EXPECT_EQ(recovery.Log().find("joined from"), std::string::npos) << recovery.Log();
}

TEST(FoolingJoins, ACopyOfAnEndInsideAnotherFilesRawDataIsNotTaken) {
  // A photo's raw data holds, on a cluster start, the last bytes of a shot of
  // the first piece's length and size: its end fits the first piece before
  // the first piece's own end comes.
  ScratchFolder folder;
  const Bytes a = OwnRawShot(1, 60000), twin = OwnRawShot(9, 60000);
  Bytes holder = OwnRawShot(3, 120000);
  const std::size_t piece = 10 * kCluster;
  const Bytes copied = Suffix(twin, piece);
  HandCard card;
  card.Add(OwnRawShot(2, 20000));
  const std::size_t aAt = card.Add(Prefix(a, piece));
  const std::size_t holderAt = card.bytes.size();
  // On a cluster start inside the raw data, ending before the holder's thumbnail.
  std::copy(copied.begin(), copied.end(), holder.begin() + 2 * kCluster);
  ASSERT_LT(2 * kCluster + copied.size(), 26 + 120000u);
  ASSERT_EQ(card.Add(holder), holderAt);
  card.Add(Suffix(a, piece));
  card.Add(OwnRawShot(4, 20000));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a, holder, OwnRawShot(2, 20000), OwnRawShot(4, 20000)});
  EXPECT_FALSE(recovery.NameOf(holder).empty());
  const std::string name = recovery.NameOf(a);
  ASSERT_FALSE(name.empty()) << recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_NE(recovery.LineOf(name).find(", joined from two pieces " + std::to_string(Clusters(holder.size())) +
                                       " clusters apart; joined without a raw-data check"),
            std::string::npos)
      << recovery.LineOf(name);
}

TEST(FoolingJoins, ClustersThatTheFatGivesToAnotherFileAreNotTaken) {
  // mtools fills the first free clusters: a photo takes a hole of ten
  // clusters, one of five, and goes on after a file of no camera's kind; the
  // two-piece reading of its end takes that file's last clusters.
  ScratchFolder folder;
  FatCard card(folder / "card.img", folder.path().string(), kCardMiB, kSectorsPerCluster);
  const Bytes a = OwnRawShot(7, 60000);
  card.Write("IMG_1.CRW", Shot(1, 40000));
  card.Write("HOLE_1.BIN", Bytes(10 * kCluster, 0x33));
  card.Write("IMG_2.CRW", Shot(2, 40000));
  card.Write("HOLE_2.BIN", Bytes(5 * kCluster, 0x33));
  card.Write("DATA.BIN", Bytes(10 * kCluster, 0x44));
  card.Delete("HOLE_1.BIN");
  card.Delete("HOLE_2.BIN");
  card.Write("IMG_3.CRW", a);
  ASSERT_EQ(card.Runs("IMG_3.CRW").size(), 3u);
  card.Delete("IMG_3.CRW");
  const std::int64_t aAt = card.ClusterStart(card.Runs("IMG_1.CRW")[0].second + 1);

  // The deleted photo's window passes over the listed clusters: the FAT fixes its pieces.
  const Recovery deleted = Recover(card.Path(), folder / "deleted");
  EXPECT_NE(deleted.LineOf(deleted.NameOf(a)).find(", joined from 3 pieces around the clusters the card's FAT lists"),
            std::string::npos);

  // Every file's window, the listed ones' too: the photo's first piece waits.
  const Recovery all = Recover(card.Path(), folder / "all", true);
  all.ExpectNoWrongCrw({a, Shot(1, 40000), Shot(2, 40000)});
  const std::string line = all.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_NE(line.find("its pieces take clusters that the card's FAT gives to another file"), std::string::npos)
      << line;

  card.QuickFormat();
  const Recovery formatted = Recover(card.Path(), folder / "formatted");
  formatted.ExpectNoWrongCrw({a, Shot(1, 40000), Shot(2, 40000)});
  EXPECT_EQ(formatted.summary.joined, 0);
  EXPECT_FALSE(formatted.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged").empty());
}

// Photos whose raw data is compressed as cameras compress it: the decode
// across each seam decides. A small sensor keeps them near 100 KB: 19,200
// bytes of low bits, then the compressed stream.
PhotoFile Photo(std::uint32_t seed, std::uint32_t height = 240) {
  PhotoFileOptions options;
  options.width = 320;
  options.height = height;
  options.seed = seed;
  options.thumbnailWidth = 32;
  options.thumbnailHeight = 24;
  return MakePhotoFile(options);
}

TEST(RawDataJoins, TwoFirstPiecesInHolesOfOneSizeAreEachJoinedToTheirOwnEnd) {
  ScratchFolder folder;
  const PhotoFile a = Photo(1), b = Photo(2), whole1 = Photo(3), whole2 = Photo(4);
  const std::size_t piece = 16 * kCluster;
  ASSERT_GT(piece, a.streamStart + 2 * kCluster);
  HandCard card;
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece));
  card.Add(whole1.bytes);
  card.Add(Prefix(b.bytes, piece));
  card.Add(whole2.bytes);
  const std::size_t aTail = card.Add(Suffix(a.bytes, piece));
  card.Add(Suffix(b.bytes, piece));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, b.bytes, whole1.bytes, whole2.bytes});
  for (const PhotoFile* photo : {&a, &b, &whole1, &whole2}) EXPECT_FALSE(recovery.NameOf(photo->bytes).empty());
  EXPECT_EQ(recovery.summary.joined, 2) << recovery.Log();
  EXPECT_EQ(recovery.summary.damaged, 0);
  const std::string line = recovery.LineOf(recovery.NameOf(a.bytes));
  EXPECT_NE(line.find(", joined from two pieces " + std::to_string((aTail - aAt - piece) / kCluster) +
                      " clusters apart"),
            std::string::npos)
      << line;
  EXPECT_EQ(line.find("without a raw-data check"), std::string::npos) << line;
}

TEST(RawDataJoins, ASeamInTheStreamThatTheBytesBeforeTheSecondPieceContinueAsWellIsATie) {
  // A first piece closed by a whole photo's header reaches four clusters
  // into its compressed stream. Right before its second piece lie another
  // photo's low bits and then, at their offsets, the photo's own first four
  // clusters of stream: cut in the low bits instead, the first piece hands
  // the stream's start to a longer second piece, and that decodes as well.
  // The card does not say which bytes begin the stream.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), b = Photo(2), whole = Photo(3);
  const std::size_t cut = a.streamStart / kCluster * kCluster;
  const std::size_t split = cut + 4 * kCluster;
  HandCard card;
  const std::size_t aAt = card.Add(Prefix(a.bytes, split));
  card.Add(whole.bytes);
  Bytes before = Slice(b.bytes, b.rawDataStart, b.rawDataStart + (a.streamStart - cut));
  const Bytes stream = Slice(a.bytes, a.streamStart, split);
  before.insert(before.end(), stream.begin(), stream.end());
  const std::size_t beforeAt = card.Add(before);
  card.Add(Suffix(a.bytes, split));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, whole.bytes});
  EXPECT_TRUE(recovery.NameOf(a.bytes).empty()) << recovery.Log();
  EXPECT_NE(recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged")
                .find("read with its first piece cut after " + std::to_string(cut) +
                      " bytes, in the low bits stored before its compressed raw data, and its second piece from " +
                      std::to_string(beforeAt) + ", its raw data decodes as well"),
            std::string::npos)
      << recovery.Log();
}

TEST(RawDataJoins, APhotoCutByTheCardsEndIsJoinedToItsSecondPieceAtTheCardsStart) {
  // The camera's allocator went on after the last cluster it wrote: at the
  // card's end it wrapped to the first free clusters from the start.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), whole1 = Photo(3), whole2 = Photo(4);
  const std::size_t piece = 16 * kCluster;
  ASSERT_GT(piece, a.streamStart + 2 * kCluster);
  HandCard card;
  card.Add(Suffix(a.bytes, piece));
  card.Add(whole1.bytes);
  card.Add(whole2.bytes);
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece));

  const Recovery recovery = Recover(folder.Write("card.img", card.bytes), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, whole1.bytes, whole2.bytes});
  EXPECT_EQ(recovery.summary.damaged, 0) << recovery.Log();
  const std::string line = recovery.LineOf(recovery.NameOf(a.bytes));
  EXPECT_EQ(line.find("At " + std::to_string(aAt) + ": "), 0u) << recovery.Log();
  EXPECT_NE(line.find(", the second where the camera went on at the card's start"), std::string::npos) << line;

  // The card's start is read again for it, but not from a card that failed
  // a read, even past the bytes read again.
  HandCard failed;
  failed.Add(Suffix(a.bytes, piece));
  const std::size_t badAt = failed.Add(Bytes(JoinLimits::kMaxWrapBytes, 0)) + JoinLimits::kMaxWrapBytes - kCluster;
  const std::size_t cutAt = failed.Add(Prefix(a.bytes, piece));
  FlakyCardReader failing(failed.bytes);
  failing.FailBetween(badAt, badAt + 512);
  ScratchFolder out;
  LogLines log;
  EXPECT_EQ(RecoverCard(failing, out.path().string(), log).joined, 0);
  EXPECT_TRUE(std::filesystem::exists(out / ("CRW_at_" + std::to_string(cutAt) + ".damaged")));
}

TEST(RawDataJoins, TheEndOfAnOverwrittenPhotoBreaksTheDecodeOfAWaitingFirstPiece) {
  ScratchFolder folder;
  const PhotoFile a = Photo(1), overwritten = Photo(5), before = Photo(2), next = Photo(3);
  const Bytes small = Shot(6, 8000);
  HandCard card;
  card.Add(before.bytes);
  const std::size_t aAt = card.Add(Prefix(a.bytes, 40 * kCluster));
  card.Add(next.bytes);
  const std::size_t smallAt = card.bytes.size();
  PlaceAt(card.bytes, smallAt, overwritten.bytes);
  PlaceAt(card.bytes, smallAt, small);
  card.bytes.resize(smallAt + Clusters(overwritten.bytes.size()) * kCluster);
  card.Add(Photo(4).bytes);

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, before.bytes, next.bytes, small, Photo(4).bytes});
  EXPECT_FALSE(recovery.NameOf(small).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  const std::string line = recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_NE(line.find("its raw data breaks at byte"), std::string::npos) << line;
}

TEST(RawDataJoins, ASplitInTheLowBitsIsNotJoinedEvenWhereTheFilesAroundSeemToFixIt) {
  // Cut after four clusters, inside the low bits that lead the raw data: the
  // decode sees no seam. On camera cards photos of one camera fill holes of
  // one size, and a next file's header after the first piece and another
  // file's end before the second lined up with wrong ends too; so neither
  // photo is joined, whether its second piece follows a file's end or old
  // bytes.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), b = Photo(2), whole = Photo(3), last = Photo(4);
  const std::size_t piece = 4 * kCluster;
  ASSERT_LT(piece, a.streamStart);
  HandCard card;
  card.Add(Photo(5).bytes);
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece));
  card.Add(whole.bytes);
  card.Add(Suffix(a.bytes, piece));
  const std::size_t bAt = card.Add(Prefix(b.bytes, piece));
  card.Add(last.bytes);
  card.Add(Bytes(3 * kCluster, 0x33));
  card.Add(Suffix(b.bytes, piece));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, b.bytes, whole.bytes, last.bytes, Photo(5).bytes});
  EXPECT_EQ(recovery.summary.joined, 0);
  EXPECT_EQ(recovery.summary.damaged, 2);
  for (const std::size_t at : {aAt, bAt}) {
    const std::string line = recovery.LineOf("CRW_at_" + std::to_string(at) + ".damaged");
    EXPECT_NE(line.find("it is cut within the low bits stored before its compressed raw data, which show no seam"),
              std::string::npos)
        << line;
  }
}

TEST(RawDataJoins, AFirstPieceThatRunsOnIntoOldClustersEndsWhereItsDecodeBreaks) {
  // No header follows either first piece: old clusters of a deleted photo's
  // compressed data do, a few (the window stays shorter than the file) or
  // many (it grows longer). Where the piece's raw data stops decoding, it
  // ended.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), b = Photo(2), old = Photo(7), whole = Photo(3);
  const std::size_t piece = 20 * kCluster;
  ASSERT_GT(piece, a.streamStart);
  const Bytes oldClusters = Bytes(old.bytes.begin() + 30 * kCluster, old.bytes.begin() + 40 * kCluster);
  HandCard card;
  card.Add(Photo(5).bytes);
  card.Add(Prefix(a.bytes, piece));
  card.Add(Prefix(oldClusters, 6 * kCluster));
  const std::size_t bAt = card.Add(Prefix(b.bytes, piece));
  for (int i = 0; i < 6; ++i) card.Add(oldClusters);
  card.Add(whole.bytes);
  card.Add(Suffix(a.bytes, piece));
  card.Add(Suffix(b.bytes, piece));
  ASSERT_GT(card.bytes.size() - bAt, b.bytes.size());

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, b.bytes, whole.bytes, Photo(5).bytes});
  for (const PhotoFile* photo : {&a, &b}) {
    recovery.ExpectJoinedFromTwoPieces(photo->bytes);
    EXPECT_EQ(recovery.LineOf(recovery.NameOf(photo->bytes)).find("without a raw-data check"), std::string::npos);
  }
  EXPECT_EQ(recovery.summary.damaged, 0);
}

TEST(RawDataJoins, PiecesThatGaveUpLeaveTheRoomOfWaitingPiecesToTheNextOnes) {
  // Pieces whose ends can no longer come are settled as damaged once the
  // card has gone a gap's bound past them; the pieces that wait after them
  // have the whole room of waiting pieces again.
  struct Settled : PieceSink {
    void Joined(const JoinedFile&) override {}
    void Unjoined(const FirstPiece& piece, const std::string& reason) override { reasons[piece.start] = reason; }
    std::map<std::int64_t, std::string> reasons;
  } sink;
  FileImage scratch;
  WorkBudget budget{RecoveryBounds{}};
  PieceJoiner joiner(sink, scratch, budget);
  const std::int64_t pieceBytes = JoinLimits::kMaxWaitingBytes / 4;
  const auto piece = [&](std::int64_t start) {
    FirstPiece first;
    first.start = start;
    first.bytes.assign(static_cast<std::size_t>(pieceBytes), 0);
    return first;
  };
  for (int n = 0; n < 3; ++n) joiner.Wait(piece(n * pieceBytes));
  const std::uint8_t block[512] = {};
  const std::int64_t past = RecoveryLimits::kMaxCrwSize + JoinLimits::kMaxGapBytes + (std::int64_t{1} << 30);
  joiner.Feed(block, past, sizeof block);
  ASSERT_EQ(sink.reasons.size(), 3u);
  for (int n = 0; n < 3; ++n) joiner.Wait(piece(past + n * pieceBytes));
  EXPECT_EQ(sink.reasons.size(), 3u) << sink.reasons.rbegin()->second;
}

TEST(RawDataJoins, AWindowWhoseEndLinesUpByArithmeticAloneIsNotTakenForOnePhoto) {
  // Two first pieces of one length: the first photo's last piece follows the
  // second photo's first piece, so the second's header and the first's end
  // look like one file in one piece. Its raw data breaks at the seam.
  ScratchFolder folder;
  const PhotoFile first = Photo(1), second = Photo(2), whole = Photo(3);
  const std::size_t piece = 20 * kCluster;
  ASSERT_GT(piece, first.streamStart);
  HandCard card;
  card.Add(Prefix(first.bytes, piece));
  card.Add(whole.bytes);
  card.Add(Prefix(second.bytes, piece));
  card.Add(Suffix(first.bytes, piece));
  card.Add(Photo(4).bytes);
  card.Add(Suffix(second.bytes, piece));

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({first.bytes, second.bytes, whole.bytes, Photo(4).bytes});
  for (const PhotoFile* photo : {&first, &second}) recovery.ExpectJoinedFromTwoPieces(photo->bytes);
  EXPECT_EQ(recovery.summary.damaged, 0);
}

// Photos in three or more pieces on a card whose FAT lists nothing: each
// piece is the one cluster start that continues the decode of the pieces
// before it, and the end's own clusters complete it at exactly its size.

// A camera JPEG of a few clusters, which no decode of raw data continues.
Bytes CameraJpeg() {
  Bytes jpeg = MakeJpeg(320, 240);
  EXPECT_GT(jpeg.size(), 2 * kCluster);
  return jpeg;
}

// Places a photo cut at the given offsets, each piece followed by the files
// of between (one list a gap), and returns the card positions of its pieces.
std::vector<std::pair<std::size_t, std::size_t>> PlaceInPieces(HandCard& card, const Bytes& photo,
                                                               const std::vector<std::size_t>& cuts,
                                                               const std::vector<std::vector<Bytes>>& between) {
  std::vector<std::pair<std::size_t, std::size_t>> pieces;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : photo.size();
    pieces.emplace_back(card.Add(Slice(photo, from, to)), to - from);
    if (i < between.size()) {
      for (const Bytes& file : between[i]) card.Add(file);
    }
    from = to;
  }
  return pieces;
}

// A photo in three pieces after a whole photo: a photo after its first
// piece, a JPEG after its second, a photo after its last.
struct ThreePieces {
  ThreePieces(std::size_t first, std::size_t second) : piece1(first) {
    card.Add(before.bytes);
    pieces = PlaceInPieces(card, a.bytes, {first, first + second}, {{between.bytes}, {CameraJpeg()}});
    card.Add(last.bytes);
  }
  Recovery Recovered() const {
    const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
    recovery.ExpectNoWrongCrw({a.bytes, before.bytes, between.bytes, last.bytes});
    return recovery;
  }
  ScratchFolder folder;
  const PhotoFile a = Photo(1), before = Photo(5), between = Photo(3), last = Photo(4);
  std::size_t piece1;
  HandCard card;
  std::vector<std::pair<std::size_t, std::size_t>> pieces;
};

// "joined from 3 pieces (clusters 10-29, 80-87, 120-166)": a hand-built
// card's grid, inferred from its headers, counts clusters from its first byte.
std::string PiecesLine(const std::vector<std::pair<std::size_t, std::size_t>>& pieces) {
  std::string line = ", joined from " + std::to_string(pieces.size()) + " pieces (clusters ";
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const auto& [at, size] = pieces[i];
    line += (i == 0 ? "" : ", ") + std::to_string(at / kCluster) + "-" + std::to_string((at + size - 1) / kCluster);
  }
  return line + ")";
}

TEST(RawDataJoins, APieceJoinedFromItsOwnBytesStillGivesTheSecondPieceOfAnotherThatLiesAmongThem) {
  // The second photo's window holds its own second piece, behind a JPEG, and
  // then the first photo's second piece: both ends are found in its bytes
  // before the card has streamed past them, and the first joins after the
  // second's piece has left the waiting ones.
  ScratchFolder folder;
  const PhotoFile first = Photo(1), second = Photo(2), whole = Photo(3);
  const std::size_t piece = 20 * kCluster;
  ASSERT_GT(piece, first.streamStart);
  HandCard card;
  card.Add(Prefix(first.bytes, piece));
  card.Add(Prefix(second.bytes, piece));
  card.Add(CameraJpeg());
  card.Add(Suffix(second.bytes, piece));
  card.Add(Suffix(first.bytes, piece));
  card.Add(whole.bytes);

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({first.bytes, second.bytes, whole.bytes});
  for (const PhotoFile* photo : {&first, &second}) recovery.ExpectJoinedFromTwoPieces(photo->bytes);
}

TEST(PieceChainJoins, APhotoInThreePiecesAroundAPhotoAndAJpegComesBackWhole) {
  const ThreePieces placed(20 * kCluster, 8 * kCluster);
  ASSERT_GT(placed.piece1, placed.a.streamStart + 2 * kCluster);
  const PhotoFile& a = placed.a;
  const auto& pieces = placed.pieces;
  const Recovery recovery = placed.Recovered();
  const std::string name = recovery.NameOf(a.bytes);
  ASSERT_FALSE(name.empty()) << recovery.Log();
  EXPECT_NE(recovery.LineOf(name).find(PiecesLine(pieces)), std::string::npos)
      << recovery.LineOf(name) << "\n" << PiecesLine(pieces);
  EXPECT_EQ(recovery.summary.joined, 1);
  EXPECT_EQ(recovery.summary.damaged, 0);
  EXPECT_EQ(recovery.summary.recovered, 4 + 2);  // and the grid's marks
}

TEST(PieceChainJoins, PhotosInFourAndFivePiecesComeBackWhole) {
  ScratchFolder folder;
  const PhotoFile four = Photo(1), five = Photo(2), before = Photo(5);
  const std::vector<PhotoFile> others = {Photo(3), Photo(4), Photo(6), Photo(7)};
  const std::size_t cut = 16 * kCluster;
  ASSERT_GT(cut, five.streamStart + 4 * kCluster);
  HandCard card;
  card.Add(before.bytes);
  const auto fourPieces = PlaceInPieces(card, four.bytes, {cut, cut + 9 * kCluster, cut + 18 * kCluster},
                                        {{others[0].bytes}, {CameraJpeg()}, {others[1].bytes, CameraJpeg()}});
  const auto fivePieces =
      PlaceInPieces(card, five.bytes, {cut, cut + 7 * kCluster, cut + 14 * kCluster, cut + 21 * kCluster},
                    {{others[2].bytes}, {CameraJpeg()}, {others[3].bytes}, {CameraJpeg(), CameraJpeg()}});

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  std::vector<Bytes> placed = {four.bytes, five.bytes, before.bytes};
  for (const PhotoFile& other : others) placed.push_back(other.bytes);
  recovery.ExpectNoWrongCrw(placed);
  for (const auto& [photo, pieces] : {std::pair{&four, fourPieces}, std::pair{&five, fivePieces}}) {
    const std::string name = recovery.NameOf(photo->bytes);
    ASSERT_FALSE(name.empty()) << recovery.Log();
    EXPECT_NE(recovery.LineOf(name).find(PiecesLine(pieces)), std::string::npos) << recovery.LineOf(name);
  }
  EXPECT_EQ(recovery.summary.joined, 2);
  EXPECT_EQ(recovery.summary.damaged, 0);
  EXPECT_NE(recovery.log.Lines().back().find("(2 joined from two or more pieces)"), std::string::npos)
      << recovery.log.Lines().back();
}

TEST(PieceChainJoins, TwoPiecesThatBothContinueTheDecodeAreATieAndStayDamaged) {
  // The photo's middle piece lies on the card twice: either copy continues
  // its decode, and nothing tells which one the camera wrote last.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), before = Photo(5), between = Photo(3), last = Photo(4);
  const std::size_t piece1 = 20 * kCluster, piece2 = 8 * kCluster;
  const Bytes middle = Slice(a.bytes, piece1, piece1 + piece2);
  HandCard card;
  card.Add(before.bytes);
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece1));
  card.Add(between.bytes);
  const std::size_t copy1 = card.Add(middle);
  card.Add(CameraJpeg());
  const std::size_t copy2 = card.Add(middle);
  card.Add(CameraJpeg());
  card.Add(Suffix(a.bytes, piece1 + piece2));
  card.Add(last.bytes);

  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, before.bytes, between.bytes, last.bytes});
  EXPECT_TRUE(recovery.NameOf(a.bytes).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  // Each reading names its pieces; one takes the first copy's first clusters.
  const std::string line = recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged");
  EXPECT_NE(line.find("its decode completes at the end from clusters " + std::to_string(aAt / kCluster) + "-"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find(", " + std::to_string(copy1 / kCluster) + "-"), std::string::npos) << line;
  EXPECT_NE(line.find("alike, so neither is joined by guess"), std::string::npos) << line;
  EXPECT_LT(copy1, copy2);
}

TEST(PieceChainJoins, AFirstPieceThatEndsInTheLowBitsIsNotFollowed) {
  // Cut inside the low bits that lead the raw data, the first piece's seam
  // shows in no decode: its middle piece is not sought.
  const ThreePieces placed(4 * kCluster, 12 * kCluster);
  ASSERT_LT(placed.piece1, placed.a.streamStart);
  const PhotoFile& a = placed.a;
  const auto& pieces = placed.pieces;
  const Recovery recovery = placed.Recovered();
  EXPECT_TRUE(recovery.NameOf(a.bytes).empty());
  EXPECT_EQ(recovery.summary.joined, 0);
  EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(pieces.front().first) + ".damaged").empty());
}

// The card's word on a hand-built card: a FAT12 volume laid over its first
// four clusters, whose tables are empty (every file deleted on a computer)
// and whose root directory keeps the deleted entries, each with its first
// cluster and size.
struct DeletedEntry {
  std::string name;  // "CRW_0001CRW": the short name's eleven bytes
  std::size_t at = 0;
  std::size_t size = 0;
};

void LayDeletedVolume(Bytes& card, const std::vector<DeletedEntry>& entries) {
  constexpr std::size_t kSector = 512, kFatSectors = 4, kRootSectors = 7;
  auto put16 = [&](std::size_t at, std::size_t value) {
    card[at] = static_cast<std::uint8_t>(value), card[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  std::fill(card.begin(), card.begin() + 4 * kCluster, 0);
  card[0] = 0xEB, card[1] = 0x3C, card[2] = 0x90;
  put16(11, kSector);
  card[13] = kCluster / kSector;
  put16(14, 1);
  card[16] = 2;
  put16(17, kRootSectors * kSector / 32);
  put16(19, card.size() / kSector);
  card[21] = 0xF8;
  put16(22, kFatSectors);
  card[510] = 0x55, card[511] = 0xAA;
  std::size_t entry = (1 + 2 * kFatSectors) * kSector;
  ASSERT_EQ(entry + kRootSectors * kSector, 4 * kCluster);
  for (const DeletedEntry& file : entries) {
    std::copy(file.name.begin(), file.name.end(), card.begin() + static_cast<std::ptrdiff_t>(entry));
    card[entry] = 0xE5;
    card[entry + 11] = 0x20;
    put16(entry + 26, (file.at - 4 * kCluster) / kCluster + 2);
    put16(entry + 28, file.size & 0xFFFF);
    put16(entry + 30, file.size >> 16);
    entry += 32;
  }
}

TEST(DirectoryJoins, AFileThatMayBeginWithThePieceItsHeaderCutSaysSoUnlessTheDirectoryGivesItsSize) {
  // A camera put the first photo's first piece in a hole right before the
  // second photo's header, skipped the second photo's first piece (as long)
  // and went on right after it. Read from the second header, the bytes are
  // its header and low bits, then the first photo's rest: the first photo's
  // picture, which its line says may begin with the other header's bytes.
  const PhotoFile first = Photo(1), second = Photo(2), whole = Photo(3);
  const std::size_t piece = 2 * kCluster;
  ASSERT_LT(piece, first.streamStart);
  HandCard card;
  const std::size_t firstAt = card.Add(Prefix(first.bytes, piece));
  card.Add(Prefix(second.bytes, piece));
  card.Add(Suffix(first.bytes, piece));
  card.Add(whole.bytes);
  card.Add(Suffix(second.bytes, piece));

  ScratchFolder folder;
  const Recovery formatted = Recover(folder.Write("formatted.img", card.Finished()), folder / "formatted");
  EXPECT_TRUE(formatted.NameOf(whole.bytes).ends_with(".CRW"));
  Bytes read = Prefix(second.bytes, piece);
  read.insert(read.end(), first.bytes.begin() + static_cast<std::ptrdiff_t>(piece), first.bytes.end());
  const std::string name = formatted.NameOf(read);
  ASSERT_TRUE(name.ends_with(".CRW")) << formatted.Log();
  EXPECT_NE(formatted.LineOf(name).find("; the first piece at " + std::to_string(firstAt) +
                                        ", which its header cut after " + std::to_string(piece) +
                                        " bytes, reads on into it as well"),
            std::string::npos)
      << formatted.Log();
  EXPECT_EQ(formatted.LineOf(formatted.NameOf(whole.bytes)).find("reads on into it"), std::string::npos);

  // A photo in one piece right after another's first piece that it cut:
  // the same two readings, unless the card's directory names its first
  // cluster with the size its end gives.
  HandCard oneAfterCut;
  oneAfterCut.Add(Prefix(first.bytes, piece));
  const std::size_t wholeAt = oneAfterCut.Add(second.bytes);
  oneAfterCut.Add(Suffix(first.bytes, piece));
  Bytes listed = oneAfterCut.Finished();
  LayDeletedVolume(listed, {{"CRW_0002CRW", wholeAt, second.bytes.size()}});
  const Recovery named = Recover(folder.Write("named.img", listed), folder / "named");
  named.ExpectNoWrongCrw({first.bytes, second.bytes});
  const std::string secondName = named.NameOf(second.bytes);
  ASSERT_TRUE(secondName.ends_with(".CRW")) << named.Log();
  EXPECT_EQ(named.LineOf(secondName).find("reads on into it"), std::string::npos) << named.Log();
}

TEST(DirectoryJoins, APhotoRightAfterTheCutFirstPieceOfItsOwnCopyIsNoTie) {
  // The camera's copy of a photo began in a hole right before the photo
  // and went on after it: read on past the cut, the copy's piece gives the
  // very bytes the photo holds, which is no doubt about them.
  const PhotoFile photo = Photo(1);
  const std::size_t piece = 24 * kCluster;
  ASSERT_GT(piece, photo.streamStart);
  const PhotoFile other = Photo(2);
  HandCard card;
  // Blank card before them: its bytes earn the work that weighing takes.
  card.Add(Bytes(8 << 20, 0));
  card.Add(Prefix(photo.bytes, piece));
  card.Add(photo.bytes);
  card.Add(other.bytes);
  card.Add(Suffix(photo.bytes, piece));
  ScratchFolder folder;
  const Recovery recovery = Recover(folder.Write("card.img", card.Finished()), folder / "out");
  recovery.ExpectNoWrongCrw({photo.bytes, other.bytes});
  EXPECT_EQ(recovery.summary.damaged, 0) << recovery.Log();
  EXPECT_EQ(recovery.Log().find("reads on into it"), std::string::npos) << recovery.Log();
}

TEST(DirectoryJoins, AnotherPhotosEndAtTheSameOffsetsAfterAFirstPieceInItsLowBitsIsNotItsEnd) {
  // The first piece ends inside the low bits, and another photo's last piece
  // follows it at the very offsets it has in its own file: read on, the
  // window decodes as one photo and closes at the other photo's end. The
  // card's directory gives the first photo another size, so the window is
  // no photo. The two then fix each other's seams, a header and a whole
  // photo closing the run; but deep in the low bits the last cluster of
  // one's first piece and the first of the other's second piece may be
  // each other's, and both stay damaged.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), b = Photo(2), whole = Photo(3);
  const std::size_t piece = 4 * kCluster;
  ASSERT_LT(piece, a.streamStart);
  ASSERT_NE(a.bytes.size(), b.bytes.size());
  HandCard card;
  const std::size_t bAt = card.Add(Prefix(b.bytes, piece));
  card.Add(whole.bytes);
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece));
  card.Add(Suffix(b.bytes, piece));
  card.Add(Photo(4).bytes);
  card.Add(Suffix(a.bytes, piece));
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}, {"CRW_0002CRW", bAt, b.bytes.size()}});

  const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
  recovery.ExpectNoWrongCrw({a.bytes, b.bytes, whole.bytes, Photo(4).bytes});
  EXPECT_EQ(recovery.summary.damaged, 2) << recovery.Log();
  EXPECT_NE(recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged").find("may be each other's"),
            std::string::npos)
      << recovery.Log();
}

TEST(DirectoryJoins, ASplitInTheLowBitsJoinsWhereTheDirectoryFixesTheSizeAndTheFilesAroundBothSides) {
  // A next file's header right after the first piece, another photo's end
  // right before the second, and the card's directory gives the photo's
  // size: the end is the photo's, and its seam lies where the files around
  // it say. Without the directory, the same card keeps it damaged.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), whole = Photo(3), last = Photo(4);
  const std::size_t piece = 4 * kCluster;
  HandCard card;
  const std::size_t aAt = card.Add(Prefix(a.bytes, piece));
  card.Add(whole.bytes);
  card.Add(Suffix(a.bytes, piece));
  card.Add(last.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
  const Recovery named = Recover(folder.Write("named.img", image), folder / "named");
  LayDeletedVolume(image, {});
  const Recovery unnamed = Recover(folder.Write("unnamed.img", image), folder / "unnamed");

  for (const Recovery* recovery : {&named, &unnamed}) recovery->ExpectNoWrongCrw({a.bytes, whole.bytes, last.bytes});
  EXPECT_NE(named.LineOf(named.NameOf(a.bytes))
                .find(", joined from two pieces " + std::to_string(Clusters(whole.bytes.size())) +
                      " clusters apart; its seam lies in the low bits, where the card's directory gives its size"),
            std::string::npos)
      << named.Log();
  EXPECT_TRUE(unnamed.NameOf(a.bytes).empty());
  EXPECT_EQ(unnamed.summary.joined, 0);
}

TEST(DirectoryJoins, ASplitInTheLowBitsJoinsWhereAJoinedPhotosPieceLiesBesideItsSeam) {
  // As above, with another photo, which joins by its decode, on one side of
  // the seam: the last cluster of its first piece right before the second
  // piece (its own end comes later on the card, after the first photo's end
  // was weighed), or its second piece right after the first piece, where no
  // header follows. An older THM's entry that names the same first cluster
  // says nothing of the photo's size.
  const PhotoFile a = Photo(1), b = Photo(2), whole = Photo(3), last = Photo(4);
  const std::size_t piece = 4 * kCluster;
  const std::size_t bPiece = (b.streamStart / kCluster + 8) * kCluster;
  for (const bool bBeforeSecondPiece : {true, false}) {
    SCOPED_TRACE(bBeforeSecondPiece ? "before the second piece" : "after the first piece");
    HandCard card;
    std::size_t aAt = 0;
    if (bBeforeSecondPiece) {
      aAt = card.Add(Prefix(a.bytes, piece));
      card.Add(whole.bytes);
      card.Add(Prefix(b.bytes, bPiece));
      card.Add(Suffix(a.bytes, piece));
      card.Add(Suffix(b.bytes, bPiece));
    } else {
      card.Add(Prefix(b.bytes, bPiece));
      aAt = card.Add(Prefix(a.bytes, piece));
      card.Add(Suffix(b.bytes, bPiece));
      card.Add(whole.bytes);
      card.Add(Suffix(a.bytes, piece));
    }
    card.Add(last.bytes);
    Bytes image = card.Finished();
    LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}, {"CRW_0001THM", aAt, 5000}});
    ScratchFolder folder;
    const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
    recovery.ExpectNoWrongCrw({a.bytes, b.bytes, whole.bytes, last.bytes});
    EXPECT_NE(recovery.LineOf(recovery.NameOf(b.bytes)).find("joined from two pieces"), std::string::npos)
        << recovery.Log();
    EXPECT_NE(recovery.LineOf(recovery.NameOf(a.bytes)).find("its seam lies in the low bits"), std::string::npos)
        << recovery.Log();
    EXPECT_EQ(recovery.summary.damaged, 0) << recovery.Log();
  }
}

// Holes filled one after another, for the run's photos p0, p1, ... and the
// whole photos x, y and z: p0's first piece, x, p1's first piece, p0's
// rest, p2's first piece, p1's rest, ..., the last photo's first piece, the
// rest of the one before it, y, the last photo's rest, z. Returns the
// directory entries that give the run's photos their sizes.
std::vector<DeletedEntry> AddRunOfSeams(HandCard& card, const std::vector<const Bytes*>& run,
                                        const std::array<const Bytes*, 3>& wholes,
                                        const std::vector<std::size_t>& firstPieces = {}) {
  const auto firstPiece = [&](std::size_t photo) {
    return photo < firstPieces.size() ? firstPieces[photo] : (4 + photo) * kCluster;
  };
  std::vector<DeletedEntry> entries;
  for (std::size_t n = 0; n < run.size(); ++n) {
    const std::size_t at = card.Add(Prefix(*run[n], firstPiece(n)));
    entries.push_back({"CRW_000" + std::to_string(n + 1) + "CRW", at, run[n]->size()});
    if (n == 0) card.Add(*wholes[0]);
    if (n > 0) card.Add(Suffix(*run[n - 1], firstPiece(n - 1)));
  }
  card.Add(*wholes[1]);
  card.Add(Suffix(*run.back(), firstPiece(run.size() - 1)));
  card.Add(*wholes[2]);
  return entries;
}

TEST(DirectoryJoins, PhotosWhoseSeamsInTheLowBitsFixEachOthersSidesJoinAsARun) {
  // Holes filled one after another: the cluster before each photo's second
  // piece is the last of the next photo's first piece, still waiting. A
  // header fixes the first photo's first piece, a whole photo the last
  // one's second: the run is fixed, and the card's directory gives every
  // size. Without the directory the same card keeps them all damaged. In a
  // run of four, a photo's header cuts the first piece of the photo before
  // it, and only the photo after it fixes its second side: the piece it
  // cut is the run's own, which the run puts.
  // Each first piece ends in the cluster before its stream, so that the
  // next photo's cluster after it would break its decode. Where the first
  // pieces end deeper in the low bits, the last cluster of one and the
  // first of the second piece after it may be each other's: the photos
  // stay damaged.
  const PhotoFile x = Photo(4), y = Photo(5), z = Photo(6);
  const std::vector<PhotoFile> photos = {Photo(1, 240), Photo(2, 208), Photo(3, 176), Photo(7, 160)};
  std::vector<std::size_t> beforeStreams;
  for (const PhotoFile& photo : photos) {
    beforeStreams.push_back(photo.streamStart / kCluster * kCluster);
    ASSERT_GE(beforeStreams.back() + kCluster, photo.streamStart + 512);
  }
  const std::pair<std::size_t, bool> runs[] = {{3, false}, {4, false}, {3, true}};
  for (const auto& [length, deep] : runs) {
    SCOPED_TRACE("a run of " + std::to_string(length) + (deep ? ", deep in the low bits" : ""));
    ScratchFolder folder;
    std::vector<const Bytes*> run;
    std::vector<Bytes> shots = {x.bytes, y.bytes, z.bytes};
    for (std::size_t n = 0; n < length; ++n) {
      run.push_back(&photos[n].bytes);
      shots.push_back(photos[n].bytes);
    }
    HandCard card;
    const std::vector<DeletedEntry> entries =
        AddRunOfSeams(card, run, {&x.bytes, &y.bytes, &z.bytes}, deep ? std::vector<std::size_t>{} : beforeStreams);
    Bytes image = card.Finished();
    LayDeletedVolume(image, entries);
    const Recovery named = Recover(folder.Write("named.img", image), folder / "named");
    LayDeletedVolume(image, {});
    const Recovery unnamed = Recover(folder.Write("unnamed.img", image), folder / "unnamed");

    for (const Recovery* recovery : {&named, &unnamed}) recovery->ExpectNoWrongCrw(shots);
    for (const Bytes* photo : run) {
      EXPECT_EQ(named.LineOf(named.NameOf(*photo)).find("its seam lies in the low bits") != std::string::npos, !deep)
          << named.Log();
      EXPECT_TRUE(unnamed.NameOf(*photo).empty()) << unnamed.Log();
    }
    EXPECT_EQ(named.summary.damaged, deep ? static_cast<int>(length) : 0) << named.Log();
    EXPECT_EQ(named.Log().find("may be each other's") != std::string::npos, deep) << named.Log();
  }
}

TEST(DirectoryJoins, ARunThatFailsIsNotWeighedAgainForEveryEndAfterIt) {
  // The run above, but its last photo's second piece holds another file's
  // start: the run fails on that photo. Runs are sought again whenever a
  // waiting piece is fitted a new end, here the ends of copies of one photo
  // that the card's entries for four other first pieces fit by size (each
  // of whose readings overlaps a whole photo). The run's photos, whose
  // weighings each copy and decode the photo, are weighed again only where
  // something around their seams changed. On a card used for months, runs
  // weighed again for every end spent the card's budget, and photos after
  // them were not weighed at all.
  const PhotoFile a = Photo(1), b = Photo(2), x = Photo(4), y = Photo(5), z = Photo(6), copied = Photo(7);
  const std::size_t cPiece = 6 * kCluster;
  PhotoFile c = Photo(3);
  std::memcpy(c.bytes.data() + cPiece + kCluster, "RIFF", 4);
  const auto spent = [&](int ends) {
    ScratchFolder folder;
    HandCard card;
    std::vector<DeletedEntry> entries =
        AddRunOfSeams(card, {&a.bytes, &b.bytes, &c.bytes}, {&x.bytes, &y.bytes, &z.bytes});
    for (int n = 0; n < 4; ++n) {
      const std::size_t at = card.Add(Prefix(Photo(static_cast<std::uint32_t>(40 + n)).bytes, 2 * kCluster));
      entries.push_back({"CRW_001" + std::to_string(n) + "CRW", at, copied.bytes.size()});
    }
    std::vector<Bytes> shots = {a.bytes, b.bytes, c.bytes, x.bytes, y.bytes, z.bytes};
    for (int n = 0; n < ends; ++n) {
      shots.push_back(Photo(static_cast<std::uint32_t>(20 + n)).bytes);
      card.Add(shots.back());
      card.Add(Suffix(copied.bytes, cPiece));
    }
    Bytes image = card.Finished();
    LayDeletedVolume(image, entries);
    const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
    recovery.ExpectNoWrongCrw(shots);
    EXPECT_TRUE(recovery.NameOf(a.bytes).empty()) << recovery.Log();
    return recovery.summary.entriesVisited;
  };
  // Each later end costs less than weighing two of the run's photos would.
  const std::int64_t oneEnd = spent(1), fourEnds = spent(4);
  const WorkBudget budget{RecoveryBounds{}};
  EXPECT_LT(fourEnds - oneEnd, 3 * 2 * budget.EntriesToWeigh(static_cast<std::int64_t>(a.bytes.size())))
      << oneEnd << " entries with one end after the run, " << fourEnds << " with four";
}

// Lays the photo in three pieces: its first bytes, the files after them,
// its middle bytes, the file before its last piece, and its rest. Returns
// where it begins.
std::size_t AddInThreePieces(HandCard& card, const Bytes& photo, std::size_t first, std::size_t middle,
                             std::initializer_list<const Bytes*> afterFirst, const Bytes& beforeLast) {
  const std::size_t at = card.Add(Prefix(photo, first));
  for (const Bytes* bytes : afterFirst) card.Add(*bytes);
  card.Add(Bytes(photo.begin() + static_cast<std::ptrdiff_t>(first),
                 photo.begin() + static_cast<std::ptrdiff_t>(first + middle)));
  card.Add(beforeLast);
  card.Add(Suffix(photo, first + middle));
  return at;
}

TEST(DirectoryJoins, AFirstPieceThatSeemsToRunOnIntoAFilesTailOrTheCardsDirectoryEndedBeforeIt) {
  // The photo is in three pieces, its middle one a cluster long. Read as
  // two, its first piece runs on by one foreign cluster up to the next
  // header, and its last piece begins right after a whole photo: both sides
  // seem fixed, and the low bits show no seam. The foreign cluster says it
  // is not the photo's: a THM's tail (coded data up to its end marker, then
  // slack), or a sector of the card's directory, which grows among the
  // files. Or the foreign cluster is as random as low bits, and what ends
  // before the last piece is no photo but bytes that read by chance as a
  // root directory listing no raw data.
  const PhotoFile a = Photo(1), x = Photo(2), w = Photo(3), last = Photo(4);
  const std::size_t piece = 4 * kCluster;
  ASSERT_LT(piece + kCluster, a.streamStart);
  std::mt19937 random(7);
  Bytes noise(kCluster);
  for (std::uint8_t& byte : noise) byte = static_cast<std::uint8_t>(random());
  Bytes tail;
  while (tail.size() < 700) {
    tail.push_back(static_cast<std::uint8_t>(random()));
    if (tail.back() == 0xFF) tail.push_back(0x00);
    if (tail.size() % 150 == 0) tail.insert(tail.end(), {0xFF, 0x00});
  }
  tail.insert(tail.end(), {0xFF, 0xD9});
  tail.insert(tail.end(), noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(kCluster - tail.size()));
  Bytes directory(kCluster, 0);
  const std::string entry = "CRW_0009CRW";
  std::copy(entry.begin(), entry.end(), directory.begin());
  directory[11] = 0x20, directory[26] = 0x40, directory[28] = 0x10;
  // One entry (a thumbnail of 100 bytes at the heap's start), then a heap of 4,000 bytes.
  Bytes chanceEnd = noise;
  const std::uint8_t root[] = {0x01, 0x00, 0x07, 0x20, 100, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x0F, 0x00, 0x00};
  std::copy(std::begin(root), std::end(root), chanceEnd.end() - std::size(root));
  struct Case {
    const char* what;
    const Bytes& foreign;
    const Bytes& beforeLastPiece;
  };
  for (const Case& c : {Case{"a THM's tail", tail, w.bytes}, Case{"the card's directory", directory, w.bytes},
                        Case{"a chance end", noise, chanceEnd}}) {
    SCOPED_TRACE(c.what);
    HandCard card;
    const std::size_t aAt = AddInThreePieces(card, a.bytes, piece, kCluster, {&c.foreign, &x.bytes}, c.beforeLastPiece);
    card.Add(last.bytes);
    Bytes image = card.Finished();
    LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
    ScratchFolder folder;
    const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
    recovery.ExpectNoWrongCrw({a.bytes, x.bytes, w.bytes, last.bytes});
    EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(aAt) + ".damaged").empty()) << recovery.Log();
  }
}

TEST(DirectoryJoins, APhotoInThreePiecesWithBothSeamsInTheLowBitsJoinsWhereTheFilesAroundFixEverySide) {
  // The first piece ends at a whole photo's header, the middle one begins
  // right after that photo and ends at another's header, and the last
  // begins right after that one: the card's directory gives the size, so
  // the middle piece's length, and one placing passes. Without the
  // directory the same card keeps it damaged.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), x = Photo(2), y = Photo(3), last = Photo(4);
  const std::size_t first = 4 * kCluster, middle = 3 * kCluster;
  ASSERT_LT(first + middle, a.streamStart);
  HandCard card;
  const std::size_t aAt = AddInThreePieces(card, a.bytes, first, middle, {&x.bytes}, y.bytes);
  card.Add(last.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
  const Recovery named = Recover(folder.Write("named.img", image), folder / "named");
  LayDeletedVolume(image, {});
  const Recovery unnamed = Recover(folder.Write("unnamed.img", image), folder / "unnamed");

  for (const Recovery* recovery : {&named, &unnamed}) {
    recovery->ExpectNoWrongCrw({a.bytes, x.bytes, y.bytes, last.bytes});
  }
  const std::string line = named.LineOf(named.NameOf(a.bytes));
  EXPECT_NE(line.find("joined from 3 pieces"), std::string::npos) << named.Log();
  EXPECT_NE(line.find("; its seams lie where the files around fix them"), std::string::npos) << line;
  EXPECT_TRUE(unnamed.NameOf(a.bytes).empty()) << unnamed.Log();
}

TEST(DirectoryJoins, APhotoInThreePiecesJoinsAroundACameraJpgBetweenItsLaterPieces) {
  // The middle piece ends where a camera JPG begins and the last piece
  // begins right after it: the JPG, no THM, is read from its start for
  // where it ends.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), x = Photo(2), last = Photo(3);
  const Bytes jpg = MakeJpeg(320, 240);
  ASSERT_GT(jpg.size(), 2 * kCluster);
  const std::size_t first = 4 * kCluster, middle = 3 * kCluster;
  HandCard card;
  const std::size_t aAt = AddInThreePieces(card, a.bytes, first, middle, {&x.bytes}, jpg);
  card.Add(last.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
  const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");

  recovery.ExpectNoWrongCrw({a.bytes, x.bytes, last.bytes});
  EXPECT_NE(recovery.LineOf(recovery.NameOf(a.bytes)).find("joined from 3 pieces"), std::string::npos)
      << recovery.Log();
}

TEST(DirectoryJoins, APhotoInFourPiecesJoinsWhereTheFilesAroundFixEverySide) {
  // Each middle piece runs from a whole photo's end to the next one's
  // header, the last begins right after a third: the card's directory gives
  // the size, which the two middle pieces' lengths must make up together.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), x = Photo(2), y = Photo(3), z = Photo(4), last = Photo(5);
  const std::size_t first = 2 * kCluster, one = 3 * kCluster, two = 2 * kCluster;
  ASSERT_LT(first + one + two, a.streamStart);
  HandCard card;
  const std::size_t aAt = card.Add(Prefix(a.bytes, first));
  card.Add(x.bytes);
  card.Add(Bytes(a.bytes.begin() + first, a.bytes.begin() + first + one));
  card.Add(y.bytes);
  card.Add(Bytes(a.bytes.begin() + first + one, a.bytes.begin() + first + one + two));
  card.Add(z.bytes);
  card.Add(Suffix(a.bytes, first + one + two));
  card.Add(last.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
  const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");

  recovery.ExpectNoWrongCrw({a.bytes, x.bytes, y.bytes, z.bytes, last.bytes});
  EXPECT_NE(recovery.LineOf(recovery.NameOf(a.bytes)).find("joined from 4 pieces"), std::string::npos)
      << recovery.Log();
}

TEST(DirectoryJoins, APhotoInThreePiecesOpensOrClosesARunOfSeamsInTheLowBits) {
  // A photo in three pieces, one seam fixed by the files around it: where
  // its middle or last piece begins is the run's to fix, right after
  // another photo's first piece; or that photo's second piece begins right
  // after its first piece. Each run is closed by a file found. The piece
  // after the seam the run fixes begins in the cluster before its photo's
  // stream, which the other photo's cluster would break. A middle piece
  // that begins deeper in the low bits may have swapped its first cluster
  // with the other photo's last: both stay damaged.
  const PhotoFile three = Photo(1), two = Photo(2), w = Photo(3), x = Photo(4), y = Photo(5), z = Photo(6);
  const Bytes jpg = MakeJpeg(160, 120);
  const std::size_t first = 7 * kCluster, middle = 2 * kCluster, twoPiece = 9 * kCluster;
  ASSERT_LT(first + middle, three.streamStart);
  ASSERT_GE(first + middle + kCluster, three.streamStart + 512);
  ASSERT_EQ(first + middle, twoPiece);
  const Bytes threeFirst = Prefix(three.bytes, first), threeLast = Suffix(three.bytes, first + middle);
  const Bytes threeMiddle(three.bytes.begin() + first, three.bytes.begin() + first + middle);
  const Bytes twoFirst = Prefix(two.bytes, twoPiece), twoSecond = Suffix(two.bytes, twoPiece);
  enum class Layout { kOpensBeforeItsMiddle, kOpensBeforeItsLast, kCloses };
  for (const Layout layout : {Layout::kOpensBeforeItsMiddle, Layout::kOpensBeforeItsLast, Layout::kCloses}) {
    SCOPED_TRACE(static_cast<int>(layout));
    const std::vector<const Bytes*> files =
        layout == Layout::kOpensBeforeItsMiddle
            ? std::vector{&threeFirst, &w.bytes, &twoFirst, &threeMiddle, &x.bytes, &threeLast, &y.bytes, &twoSecond}
        : layout == Layout::kOpensBeforeItsLast
            ? std::vector{&threeFirst, &w.bytes, &threeMiddle, &x.bytes, &twoFirst, &threeLast, &y.bytes, &twoSecond}
            : std::vector{&twoFirst, &w.bytes, &threeFirst, &twoSecond, &jpg, &threeMiddle, &x.bytes, &threeLast};
    HandCard card;
    std::size_t threeAt = 0, twoAt = 0;
    for (const Bytes* file : files) {
      const std::size_t at = card.Add(*file);
      if (file == &threeFirst) threeAt = at;
      if (file == &twoFirst) twoAt = at;
    }
    card.Add(z.bytes);
    Bytes image = card.Finished();
    LayDeletedVolume(image, {{"CRW_0001CRW", threeAt, three.bytes.size()}, {"CRW_0002CRW", twoAt, two.bytes.size()}});
    ScratchFolder folder;
    const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
    recovery.ExpectNoWrongCrw({three.bytes, two.bytes, w.bytes, x.bytes, y.bytes, z.bytes});
    if (layout == Layout::kOpensBeforeItsMiddle) {
      EXPECT_EQ(recovery.summary.damaged, 2) << recovery.Log();
      EXPECT_NE(recovery.Log().find("may be each other's"), std::string::npos) << recovery.Log();
      continue;
    }
    EXPECT_NE(recovery.LineOf(recovery.NameOf(three.bytes)).find("joined from 3 pieces"), std::string::npos)
        << recovery.Log();
    EXPECT_NE(recovery.LineOf(recovery.NameOf(two.bytes)).find("its seam lies in the low bits"), std::string::npos)
        << recovery.Log();
  }
}

TEST(DirectoryJoins, TwoRunsThatGiveTheSameClustersToEitherPhotoAreATie) {
  // The middle piece of a photo in three pieces lies right before another
  // photo's second piece. Read the other way, the same clusters are that
  // photo's, and the last clusters of its first piece, before a header,
  // are the middle piece: every side is as fixed, every size as given, and
  // the low bits show no seam. Both stay damaged (a middle piece of two
  // clusters between files has rivals as long beside them).
  const PhotoFile three = Photo(1), two = Photo(2), w = Photo(3), x = Photo(4), z = Photo(5);
  const Bytes jpg = MakeJpeg(160, 120), otherJpg = MakeJpeg(200, 150);
  const std::size_t first = 3 * kCluster, middle = 2 * kCluster, twoPiece = 4 * kCluster;
  HandCard card;
  const std::size_t threeAt = card.Add(Prefix(three.bytes, first));
  card.Add(w.bytes);
  const std::size_t twoAt = card.Add(Prefix(two.bytes, twoPiece));
  card.Add(x.bytes);
  card.Add(jpg);
  card.Add(Bytes(three.bytes.begin() + first, three.bytes.begin() + first + middle));
  card.Add(Suffix(two.bytes, twoPiece));
  card.Add(otherJpg);
  card.Add(Suffix(three.bytes, first + middle));
  card.Add(z.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", threeAt, three.bytes.size()}, {"CRW_0002CRW", twoAt, two.bytes.size()}});
  ScratchFolder folder;
  const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");

  recovery.ExpectNoWrongCrw({three.bytes, two.bytes, w.bytes, x.bytes, z.bytes});
  for (const std::size_t at : {threeAt, twoAt}) {
    EXPECT_FALSE(recovery.LineOf("CRW_at_" + std::to_string(at) + ".damaged").empty()) << recovery.Log();
  }
}

TEST(DirectoryJoins, APhotoInThreePiecesJoinsAfterACameraJpgAndAPhotoJoinedOnlyPastItsEnd) {
  // The middle piece begins right after a camera JPG, which is no THM: its
  // markers, read from its start, tell where it ends. The last piece begins
  // right after the first piece of another photo, joined by its decode
  // only once the card has gone past the first photo's end: the first
  // photo is weighed again after that join.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), x = Photo(2), y = Photo(3), last = Photo(4);
  const Bytes jpg = MakeJpeg(160, 120);
  const std::size_t first = 4 * kCluster, middle = 3 * kCluster;
  const std::size_t yFirst = (y.streamStart / kCluster + 4) * kCluster;
  ASSERT_LT(first + middle, a.streamStart);
  ASSERT_LT(yFirst + kCluster, y.rawDataEnd);
  HandCard card;
  const std::size_t aAt = AddInThreePieces(card, a.bytes, first, middle, {&x.bytes, &jpg}, Prefix(y.bytes, yFirst));
  card.Add(Suffix(y.bytes, yFirst));
  card.Add(last.bytes);
  Bytes image = card.Finished();
  LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
  const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");

  recovery.ExpectNoWrongCrw({a.bytes, x.bytes, y.bytes, last.bytes});
  EXPECT_FALSE(recovery.NameOf(y.bytes).empty()) << recovery.Log();
  EXPECT_NE(recovery.LineOf(recovery.NameOf(a.bytes)).find("joined from 3 pieces"), std::string::npos)
      << recovery.Log();
}

TEST(DirectoryJoins, AFirstPieceThatHoldsItsWholeStreamJoinsOnlyWhereTheFilesAroundFixItsSeam) {
  // The camera wrote all of the photo but its last clusters (the rest of its
  // thumbnail, its directories) in a hole; the window runs on past it, and
  // the decode of the piece's own bytes holds the whole stream. Past the
  // stream the decode tells no seam from another: a thumbnail with another
  // JPEG's coded clusters in it may decode, and a missing middle piece pass.
  // After old clusters of a deleted photo the piece stays damaged; where a
  // next file's header follows it, a file ends right before the rest and the
  // card's directory gives the size, it joins.
  PhotoFileOptions options;
  options.width = 320;
  options.height = 240;
  options.seed = 1;
  options.thumbnailWidth = 160;
  options.thumbnailHeight = 120;
  const PhotoFile a = MakePhotoFile(options), old = Photo(7), whole = Photo(3);
  const std::size_t piece = (a.rawDataEnd / kCluster + 1) * kCluster;
  ASSERT_LT(piece, a.bytes.size());
  for (const bool fixed : {false, true}) {
    SCOPED_TRACE(fixed ? "a header after the piece, and the directory" : "old clusters after the piece");
    HandCard card;
    const std::size_t aAt = card.Add(Prefix(a.bytes, piece));
    if (!fixed) card.Add(Bytes(old.bytes.begin() + 30 * kCluster, old.bytes.begin() + 36 * kCluster));
    card.Add(whole.bytes);
    card.Add(Suffix(a.bytes, piece));
    Bytes image = card.Finished();
    if (fixed) LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});
    ScratchFolder folder;
    const Recovery recovery = Recover(folder.Write("card.img", image), folder / "out");
    recovery.ExpectNoWrongCrw({a.bytes, whole.bytes});
    const std::string line = recovery.LineOf(fixed ? recovery.NameOf(a.bytes)
                                                   : "CRW_at_" + std::to_string(aAt) + ".damaged");
    EXPECT_NE(line.find(fixed ? "; its seam lies past its raw data, where the card's directory gives its size"
                              : "its seam lies past its raw data, where the decode sees none"),
              std::string::npos)
        << recovery.Log();
  }
}

TEST(DirectoryJoins, APhotoEndsAtItsOwnEndThoughTheCardRepeatsItsPointerLater) {
  // The photo lies whole, and past it the card's bytes end with the four
  // bytes of its root directory's pointer: that later end walks the same
  // heap. After another file's start (its THM, whose end marker and slack
  // read as the pointer) it is the card's; after zeros it reads as a
  // trailer, and only the card's directory, which gives the photo's own
  // size, says it is not.
  ScratchFolder folder;
  const PhotoFile a = Photo(1), next = Photo(2);
  ASSERT_GT(a.streamStart, kCluster);  // the decode cannot vouch for its first cluster
  for (const bool zeros : {false, true}) {
    SCOPED_TRACE(zeros ? "zeros, then the pointer" : "a THM, then the pointer");
    Bytes old(3 * kCluster + 100, 0x00);
    if (!zeros) {
      const Bytes thm = MakeJpeg(16, 16);
      std::copy(thm.begin(), thm.end(), old.begin() + static_cast<std::ptrdiff_t>(Clusters(a.bytes.size()) * kCluster - a.bytes.size()));
    }
    std::copy(a.bytes.end() - 4, a.bytes.end(), old.end() - 4);
    Bytes followed = a.bytes;
    followed.insert(followed.end(), old.begin(), old.end());
    HandCard card;
    const std::size_t aAt = card.Add(followed);
    card.Add(next.bytes);
    Bytes image = card.Finished();
    if (zeros) LayDeletedVolume(image, {{"CRW_0001CRW", aAt, a.bytes.size()}});

    const std::string name = zeros ? "zeros" : "bytes";
    const Recovery recovery = Recover(folder.Write(name + ".img", image), folder / name);
    recovery.ExpectNoWrongCrw({a.bytes, next.bytes});
    EXPECT_FALSE(recovery.NameOf(a.bytes).empty()) << recovery.Log();
    EXPECT_EQ(recovery.summary.damaged, 0) << recovery.Log();
  }
}

}  // namespace
}  // namespace mendrake::testing
