// Files written in two pieces come back whole: on FAT16 cards filled by
// mtools, which gives a file the first free clusters as cameras do, and on
// cards built by hand for the cases mtools does not make. Each joined file's
// line says so; what cannot be joined surely stays damaged, with the reason.
#include "devices/DeviceReader.h"
#include "recovery/CardRecovery.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FatCard.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

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

struct Recovery {
  RecoverySummary summary;
  LogLines log;
  std::map<std::string, Bytes> files;  // by name, as written
  // The line that names file, or an empty string.
  std::string LineOf(const std::string& file) const {
    for (const std::string& line : log.Lines()) {
      if (line.find(": " + file + ",") != std::string::npos) return line;
    }
    return {};
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

}  // namespace
}  // namespace mendrake::testing
