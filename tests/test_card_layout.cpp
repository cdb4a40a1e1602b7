// The parts a card scan stands on: the boot sector's grid at the card's start
// or its first partition's, the FAT's map of listed clusters, ends found
// without their start, and reading ahead in card order; the FAT's free
// clusters as runs.
#include "cardfs/BootSector.h"
#include "cardfs/CardFileSystem.h"
#include "cardfs/ClusterGrid.h"
#include "recovery/CrwEnd.h"
#include "recovery/CrwStructureCheck.h"
#include "recovery/EndScan.h"
#include "recovery/ReadAhead.h"
#include "recovery/RecentBytes.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/FatCard.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace mendrake::testing {
namespace {

// The file system of image as the scan sees it, fed in blocks of blockSize.
CardFileSystem Observed(const Bytes& image, std::size_t blockSize) {
  CardFileSystem fileSystem;
  for (std::size_t at = 0; at < image.size(); at += blockSize) {
    fileSystem.Observe(image.data() + at, static_cast<std::int64_t>(at),
                       static_cast<std::int64_t>(std::min(blockSize, image.size() - at)));
  }
  fileSystem.Finish();
  return fileSystem;
}

Bytes Formatted(const ScratchFolder& folder, const std::string& options, int kib) {
  const std::string path = folder / "volume.img";
  std::filesystem::remove(path);
  const std::string command = "mkfs.vfat -C " + options + " '" + path + "' " + std::to_string(kib) + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadFile(path);
}

TEST(CardLayout, TheGridComesFromFat12Fat16AndFat32BootSectorsAtTheStartOrInTheFirstPartition) {
  ScratchFolder folder;
  struct Case {
    std::string options;
    int kib;
    std::string line;
  };
  const Case cases[] = {
      {"-F 12 -s 8", 4096, "Clusters of 4 KiB from byte "},
      {"-F 16 -s 32", 65536, "Clusters of 16 KiB from byte "},
      {"-F 32 -s 8", 65536, "Clusters of 4 KiB from byte "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Bytes volume = Formatted(folder, c.options, c.kib);
    const auto read = ReadBootSector(volume.data(), 0);
    ASSERT_TRUE(read);
    EXPECT_TRUE(GridLine(GridOfVolume(*read)).starts_with(c.line));
    const std::string kind = c.options.substr(3, 2);
    EXPECT_EQ(KindName(read->kind), "FAT" + kind);
    // Read as it streams past in small blocks, a fresh volume's table lists nothing.
    const CardFileSystem fileSystem = Observed(volume, 4096);
    ASSERT_TRUE(fileSystem.Map());
    EXPECT_EQ(fileSystem.Map()->UsedClusters(), kind == "32" ? 1 : 0);  // FAT32's root directory

    // The same volume as the first partition of a partition table, 1 MiB in.
    Bytes card(1 << 20, 0);
    card[446] = 0x80;
    card[446 + 4] = 0x0E;
    const std::uint32_t first = (1 << 20) / 512;
    const std::uint32_t sectors = static_cast<std::uint32_t>(volume.size() / 512);
    std::memcpy(&card[446 + 8], &first, 4);
    std::memcpy(&card[446 + 12], &sectors, 4);
    card[510] = 0x55;
    card[511] = 0xAA;
    card.insert(card.end(), volume.begin(), volume.end());
    const CardFileSystem partitioned = Observed(card, 1 << 20);
    ASSERT_TRUE(partitioned.Volume());
    EXPECT_EQ(partitioned.Volume()->dataStart, read->dataStart + (1 << 20));
    EXPECT_TRUE(partitioned.Map());
  }
}

TEST(CardLayout, TheFatGivesTheScanItsFreeClustersAsRunsAroundTheListedOnes) {
  ScratchFolder folder;
  Bytes volume = Formatted(folder, "-F 16 -s 4", 16384);
  const auto read = ReadBootSector(volume.data(), 0);
  ASSERT_TRUE(read);
  // A file in clusters 2 to 4 and one in cluster 7: entries of 16 bits.
  auto list = [&](std::uint16_t cluster, std::uint16_t next) {
    std::memcpy(&volume[static_cast<std::size_t>(read->fatStart) + cluster * 2u], &next, 2);
  };
  list(2, 3), list(3, 4), list(4, 0xFFFF), list(7, 0xFFFF);
  const CardFileSystem fileSystem = Observed(volume, 4096);
  ASSERT_TRUE(fileSystem.Free());
  const FreeClusters& free = *fileSystem.Free();
  const std::int64_t data = read->dataStart, cluster = read->clusterSize;
  EXPECT_EQ(free.Runs(), 2u);
  // Before the data area every byte is free, up to the first listed cluster.
  EXPECT_FALSE(free.ListedAt(0));
  EXPECT_EQ(free.FreeUntil(0), data);
  EXPECT_TRUE(free.ListedAt(data));
  EXPECT_TRUE(free.ListedAt(data + 3 * cluster - 1));
  EXPECT_EQ(free.NextFreeAt(data + 100), data + 3 * cluster);
  EXPECT_EQ(free.FreeUntil(data + 3 * cluster + 7), data + 5 * cluster);
  EXPECT_EQ(free.NextFreeAt(data + 5 * cluster + 7), data + 6 * cluster);
  // The last run reaches past the data area, where nothing is listed.
  EXPECT_EQ(free.FreeUntil(data + 6 * cluster), std::numeric_limits<std::int64_t>::max());
  EXPECT_FALSE(free.ListedAt(data + (read->clusterCount + 10) * cluster));
}

TEST(CardLayout, AnExFatBootSectorGivesItsGridAndNoMap) {
  Bytes sector(512, 0);
  sector[0] = 0xEB;
  std::memcpy(&sector[3], "EXFAT   ", 8);
  const auto put32 = [&](std::size_t at, std::uint32_t value) { std::memcpy(&sector[at], &value, 4); };
  sector[72] = 0x00;
  sector[73] = 0x00;
  sector[74] = 0x40;  // the volume's length in sectors (bytes 72-79)
  put32(80, 2048);    // the table's first sector
  put32(84, 256);     // its length
  put32(88, 4096);    // the cluster heap's first sector
  put32(92, 60000);   // clusters
  sector[108] = 9;    // 512-byte sectors
  sector[109] = 6;    // 64 of them a cluster
  sector[510] = 0x55;
  sector[511] = 0xAA;
  const auto volume = ReadBootSector(sector.data(), 0);
  ASSERT_TRUE(volume);
  EXPECT_EQ(GridLine(GridOfVolume(*volume)), "Clusters of 32 KiB from byte 2,097,152 (exFAT)");
  sector.resize(4 << 20, 0);
  EXPECT_FALSE(Observed(sector, 1 << 20).Map());
}

// The grid the headers at these positions share, met in this order.
ClusterGrid GridFromHeaders(std::initializer_list<std::int64_t> positions) {
  HeaderGrid grid;
  for (const std::int64_t position : positions) grid.Add(position);
  return grid.Grid();
}

TEST(CardLayout, WithoutABootSectorTheGridIsWhatTheHeadersShare) {
  EXPECT_EQ(GridLine(GridFromHeaders({16384 + 3 * 16384, 16384 + 7 * 16384, 16384 + 8 * 16384, 16384 + 20 * 16384})),
            "Clusters of 16 KiB from byte 0 (no boot sector; inferred from where 4 headers lie)");
  // Too few headers, or none on a grid of sectors: sectors.
  EXPECT_EQ(GridFromHeaders({0, 32768}).clusterSize, 512);
  EXPECT_EQ(GridFromHeaders({100, 200, 300, 400}).clusterSize, 512);
  // Files of round sizes do not make clusters larger than cameras use.
  EXPECT_EQ(GridFromHeaders({0, 1 << 20, 2 << 20, 3 << 20}).clusterSize, 65536);
}

TEST(CardLayout, EndsWithoutAStartAreFoundInBothByteOrdersAcrossTheScansBoundaries) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    CameraFileOptions options;
    options.bigEndian = bigEndian;
    options.rawDataSize = 30000;
    const Bytes file = MakeCameraFile(options);
    Bytes card;
    AppendJunk(card, JunkKind::kRandom, 5000, 3);
    const std::size_t at = card.size();
    card.insert(card.end(), file.begin(), file.end());
    AppendJunk(card, JunkKind::kRandom, 5000, 4);
    // Scanned in two calls whose boundary falls inside the root directory.
    const std::int64_t boundary = static_cast<std::int64_t>(at + file.size()) - 20;
    std::vector<RootEnd> ends;
    FindRootEnds(card.data(), boundary, 0, boundary, 1000, std::int64_t{1} << 26, ends);
    FindRootEnds(card.data(), static_cast<std::int64_t>(card.size()),
                 boundary - EndScanLimits::kMaxDirectoryBytes, static_cast<std::int64_t>(card.size()), 1000,
                 std::int64_t{1} << 26, ends);
    std::vector<RootEnd> roots;
    for (const RootEnd& end : ends) {
      if (end.heapStart == static_cast<std::int64_t>(at) + 26 + 1000) roots.push_back(end);
    }
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].end, static_cast<std::int64_t>(at + file.size()) + 1000);
    EXPECT_EQ(roots[0].bigEndian, bigEndian);
    EXPECT_EQ(roots[0].FileSize(26), static_cast<std::int64_t>(file.size()));
  }
}

TEST(CardLayout, RecentBytesFindAnEndAcrossTheSeamOfTwoBlocksAndKeepOnlyTheirLastStretch) {
  CameraFileOptions options;
  options.rawDataSize = 3000;
  const Bytes file = MakeCameraFile(options);
  Bytes card;
  AppendJunk(card, JunkKind::kRandom, 4000, 8);
  card.insert(card.end(), file.begin(), file.end());
  AppendJunk(card, JunkKind::kRandom, 4000, 9);
  const std::int64_t end = 4000 + static_cast<std::int64_t>(file.size());
  // Blocks whose seam falls inside the root directory, a few bytes before its end.
  const std::int64_t block = end - 7;
  RecentBytes recent(1 << 20);
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(card.size()); at += block) {
    recent.Add(card.data() + at, at, std::min<std::int64_t>(block, static_cast<std::int64_t>(card.size()) - at));
  }
  std::vector<RootEnd> ends;
  recent.Visit(0, recent.End(), EndScanLimits::kMaxDirectoryBytes,
               [&](const std::uint8_t* bytes, std::int64_t length, std::int64_t base, std::int64_t first,
                   std::int64_t last) { FindRootEnds(bytes, length, first - base, last - base, base, 1 << 26, ends); });
  EXPECT_EQ(std::count_if(ends.begin(), ends.end(), [&](const RootEnd& e) { return e.end == end && e.heapStart == 4026; }),
            1);
  FileImage copy;
  copy.SetSize(static_cast<std::int64_t>(file.size()));
  copy.SetSize(0);
  ASSERT_TRUE(recent.CopyTo(4000, end, copy));
  EXPECT_EQ(Bytes(copy.Data(), copy.Data() + copy.Size()), file);

  // Only what a second piece may span is kept: older blocks go.
  RecentBytes short_(block / 2);
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(card.size()); at += block) {
    short_.Add(card.data() + at, at, std::min<std::int64_t>(block, static_cast<std::int64_t>(card.size()) - at));
  }
  EXPECT_EQ(short_.Start(), block);
  EXPECT_FALSE(short_.CopyTo(0, 10, copy));
}

// The structure a written file must have, beyond the size search's rule.
std::string FaultOf(const Bytes& file) {
  FileImage window;
  window.Assign(file.data(), static_cast<std::int64_t>(file.size()));
  FileImage scratch;
  const CrwEnd end = FindCrwEnd(window, scratch);
  if (end.trueSize == 0) return "no end";
  return CrwStructureFault(file.data(), end.trueSize, file[0] == 'M', 26, end.thumbnailStart, end.thumbnailSize, true);
}

TEST(CardLayout, TheStructureCheckPassesCameraFilesAndNamesASubHeapThatDoesNotCloseOrABrokenThumbnail) {
  // A camera's heaps, whose thumbnail record holds a dummy text instead of a picture.
  EXPECT_EQ(FaultOf(ReadFile(std::string(MENDRAKE_SAMPLES_DIR) + "/CanonRaw.crw")),
            "the thumbnail does not begin with a start-of-image marker");
  for (const bool bigEndian : {false, true}) {
    CameraFileOptions options;
    options.bigEndian = bigEndian;
    options.thumbnail = MakeJpeg(32, 24);
    EXPECT_EQ(FaultOf(MakeCameraFile(options)), "");
  }
  // A sub-heap whose directory lists one entry fewer than it holds ends before its pointer.
  HeapBuilder inner;
  inner.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60")).Record(0x1031, SensorInfoRecord(3072, 2048, false));
  CrwFile file;
  file.root.Record(0x2005, Filler(4096, 0x5A)).SubHeap(0x300A, inner);
  Bytes bytes = file.Build();
  const std::size_t innerStart = 26 + 4096;
  const Bytes innerBytes = inner.Build(false);
  const std::size_t innerDirectory = innerStart + innerBytes[innerBytes.size() - 4] +
                                     (std::size_t{innerBytes[innerBytes.size() - 3]} << 8);
  ASSERT_EQ(bytes[innerDirectory], 2);
  bytes[innerDirectory] = 1;
  EXPECT_EQ(CrwStructureFault(bytes.data(), static_cast<std::int64_t>(bytes.size()), false, 26, 0, 0, false),
            "the directory of the heap at " + std::to_string(innerStart) + " does not close at its pointer");
  // A thumbnail cut short has no end marker.
  CameraFileOptions cut;
  Bytes jpeg = MakeJpeg(32, 24);
  cut.thumbnail = Prefix(jpeg, jpeg.size() - 200);
  EXPECT_EQ(FaultOf(MakeCameraFile(cut)), "the thumbnail has no end marker");
}

// A card whose reads fail in [failAt, failAt + failLength).
class FailingCard final : public CardReader {
 public:
  FailingCard(Bytes bytes, std::int64_t failAt, std::int64_t failLength)
      : bytes_(std::move(bytes)), failAt_(failAt), failEnd_(failAt + failLength) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override {
    if (offset < lastOffset_) ++seeksBack;
    lastOffset_ = offset;
    if (offset < failEnd_ && offset + count > failAt_) return -1;
    const std::int64_t n = std::min(count, Size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
    return n;
  }
  int seeksBack = 0;

 private:
  Bytes bytes_;
  std::int64_t failAt_, failEnd_;
  std::int64_t lastOffset_ = 0;
};

TEST(CardLayout, ReadingAheadGivesEveryBlockOnceInOrderWithItsBadSectorsAsZeros) {
  Bytes bytes;
  AppendJunk(bytes, JunkKind::kRandom, 100000, 5);
  Bytes zeroed = bytes;
  std::fill(zeroed.begin() + 40960, zeroed.begin() + 40960 + 1024, 0);
  // Three blocks ahead on a thread of its own, or each on the caller's thread.
  for (const int depth : {3, 0}) {
    FailingCard card(bytes, 40960, 1024);
    Bytes seen;
    std::vector<std::pair<std::int64_t, std::int64_t>> bad;
    {
      ReadAhead reader(card, 8192, 512, 16, depth);
      ReadAhead::Block block;
      while (reader.Next(block)) {
        EXPECT_EQ(block.start, static_cast<std::int64_t>(seen.size()));
        block.bytes[-1] = 0xEE;  // the room before a block is the caller's
        seen.insert(seen.end(), block.bytes, block.bytes + block.count);
        bad.insert(bad.end(), block.badRanges.begin(), block.badRanges.end());
      }
      EXPECT_EQ(reader.Stopped(), ReadAhead::Stop::kNone);
      EXPECT_EQ(reader.StoppedAt(), card.Size());
    }
    EXPECT_EQ(seen, zeroed) << depth;
    EXPECT_EQ(bad, (std::vector<std::pair<std::int64_t, std::int64_t>>{{40960, 41984}}));
    EXPECT_EQ(card.seeksBack, 0);
  }

  // Left after one block, the reader stops without reading the card to its end.
  FailingCard card(bytes, 40960, 1024);
  ReadAhead early(card, 8192, 512, 0, 2);
  ReadAhead::Block first;
  EXPECT_TRUE(early.Next(first));
}

}  // namespace
}  // namespace mendrake::testing
