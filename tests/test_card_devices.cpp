// Cards as real block devices: loop devices over built card images for the
// list of attached cards, recovery from a device, the refusal of an output
// folder on the card being read, and a full output disk (a small tmpfs).
// They need root and the loop driver, and skip with the reason where either
// is missing. The list is also read from a device tree built in a folder,
// which needs neither.
#include "analysis/LogBox.h"
#include "devices/AttachedCards.h"
#include "devices/DeviceReader.h"
#include "devices/OutputOnCard.h"
#include "recovery/CardRecovery.h"
#include "tests/support/BlockDeviceFixtures.h"
#include "tests/support/CardImage.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCluster = 32 * 1024;

Bytes Photo(std::uint16_t whiteBalance, std::size_t rawSize) {
  CameraFileOptions options;
  options.rawDataSize = rawSize;
  options.whiteBalance = whiteBalance;  // each photo its own bytes
  options.thumbnail = MakeJpeg(16, 16);
  options.model = "Canon EOS DIGITAL REBEL";
  return MakeCameraFile(options);
}

std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  const std::size_t newline = trimmed.rfind('\n');
  return newline == std::string::npos ? trimmed : trimmed.substr(newline + 1);
}

// The columns of the line of crwlog --list-cards that starts with path;
// empty when there is none.
std::vector<std::string> ListedColumns(const std::string& listing, const std::string& path) {
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(path + " ")) continue;
    std::vector<std::string> columns;
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t gap = line.find("  ", at);
      columns.push_back(line.substr(at, gap - at));
      at = gap == std::string::npos ? line.size() : line.find_first_not_of(' ', gap);
    }
    return columns;
  }
  return {};
}

class CardDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = WhyNoLoopDevices(); !why.empty()) GTEST_SKIP() << why;
  }

  // Runs crwlog with the arguments (quoted here); returns its exit status.
  int Crwlog(const std::vector<std::string>& arguments, const std::string& asUser = {}) {
    std::string command = asUser.empty() ? "" : "setpriv --reuid=" + asUser + " --regid=" + asUser + " --clear-groups ";
    command += ShellQuoted(std::string(MENDRAKE_BIN_DIR) + "/crwlog");
    for (const std::string& argument : arguments) command += " " + ShellQuoted(argument);
    out.clear();
    const int status = RunShell(command + " 2>" + ShellQuoted(folder / "stderr"), &out);
    const Bytes text = ReadFile(folder / "stderr");
    err.assign(text.begin(), text.end());
    fs::remove(folder / "stderr");
    return status;
  }

  ScratchFolder folder;  // first: removed after every mount and loop device is gone
  std::string out, err;
};

TEST_F(CardDevices, AnOutputFolderOnTheCardIsRefusedBeforeAnythingIsReadOrMade) {
  const std::string image = folder / "disk.img";
  ASSERT_TRUE(MakeExt4Image(image, 16));
  LoopDevice loop(image);
  ASSERT_FALSE(loop.path().empty());
  MountedFolder mounted(loop.path(), folder / "mnt");
  ASSERT_TRUE(mounted.mounted()) << "mounting ext4 on " << loop.path();
  const Bytes photo = Photo(1, 100000);
  WriteFile(folder / "mnt/IMG_0001.CRW", photo);
  ASSERT_EQ(RunShell("sync"), 0);
  fs::create_symlink(folder / "mnt", folder / "link");
  const std::set<std::string> before = {"IMG_0001.CRW", "lost+found"};

  struct Case {
    std::string source, output;
  };
  const std::vector<Case> refused = {
      {loop.path(), folder / "mnt/out"},
      {loop.path(), folder / "mnt"},
      {loop.path(), folder / "link/new/deeper"},  // through a link, not made yet
      {image, folder / "mnt/out"},                // the image whose loop device is mounted there
  };
  for (const Case& c : refused) {
    EXPECT_EQ(OutputFolderOnCard(c.source, c.output), loop.path()) << c.source << " into " << c.output;
    EXPECT_EQ(Crwlog({"--recover", c.source, c.output}), 2);
    EXPECT_NE(err.find(kOutputOnCardMessage), std::string::npos) << err;
    std::set<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder / "mnt")) entries.insert(entry.path().filename());
    EXPECT_EQ(entries, before) << "nothing is made on the card";
  }
  EXPECT_EQ(ReadFile(folder / "mnt/IMG_0001.CRW"), photo);

  // A disk image kept on the card and mounted elsewhere: what is written into
  // it lands on the card too.
  const std::string inner = folder / "mnt/inner.img";
  ASSERT_TRUE(MakeExt4Image(inner, 4));
  {
    LoopDevice innerLoop(inner);
    ASSERT_FALSE(innerLoop.path().empty());
    MountedFolder innerMount(innerLoop.path(), folder / "inner");
    ASSERT_TRUE(innerMount.mounted());
    EXPECT_EQ(OutputFolderOnCard(loop.path(), folder / "inner/out"), loop.path());
    EXPECT_EQ(OutputFolderOnCard(inner, folder / "inner/out"), innerLoop.path());
  }
  fs::remove(inner);

  // Into a folder on another drive the same device is read, and the photo comes back.
  EXPECT_EQ(OutputFolderOnCard(loop.path(), folder / "out"), std::nullopt);
  EXPECT_EQ(OutputFolderOnCard(image, folder / "out"), std::nullopt);
  ASSERT_EQ(Crwlog({"--recover", loop.path(), folder / "out"}), 0) << err;
  EXPECT_EQ(ReadFile(folder / "out/CRW_0001.CRW"), photo);
}

TEST_F(CardDevices, AFullOutputDiskStopsAtOnceAndASecondRunWritesOnlyWhatIsMissing) {
  Bytes card;
  std::vector<Bytes> photos;
  for (std::uint16_t i = 1; i <= 5; ++i) {
    photos.push_back(Photo(i, 150000));
    PlaceAt(card, i * 8 * kCluster, photos.back());
  }
  AppendJunk(card, JunkKind::kZeros, kCluster);
  const std::string image = folder.Write("card.img", card);
  // Room for two photos and their thumbnails, not three.
  MountedFolder full("tmpfs", folder / "full", "size=400k", "tmpfs");
  if (!full.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  const auto written = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(full.folder())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };

  EXPECT_EQ(Crwlog({"--recover", image, full.folder()}), 2);
  EXPECT_EQ(LastLine(out),
            "Stopped: the output disk is full. 2 CRW files, 0 damaged, were written. Free some space and recover "
            "into the same folder again: only the files still missing are written.");
  // The two files written are whole; the one being written left nothing, not even a temporary.
  const std::vector<std::string> first = written();
  EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const std::string& n) { return n.ends_with(".CRW"); }), 2);
  EXPECT_EQ(ReadFile(full.folder() + "/CRW_0001.CRW"), photos[0]);
  EXPECT_EQ(ReadFile(full.folder() + "/CRW_0001 (2).CRW"), photos[1]);
  for (const std::string& name : first) EXPECT_TRUE(name.starts_with("CRW_0001")) << name;

  ASSERT_TRUE(full.Remount("size=4m"));
  EXPECT_EQ(Crwlog({"--recover", image, full.folder()}), 0) << err;
  const std::vector<std::string> second = written();
  EXPECT_EQ(second.size(), 10u) << "five photos and five thumbnails, no copies";
  for (std::size_t i = 0; i < photos.size(); ++i) {
    const std::string name = i == 0 ? "CRW_0001.CRW" : "CRW_0001 (" + std::to_string(i + 1) + ").CRW";
    EXPECT_EQ(ReadFile(full.folder() + "/" + name), photos[i]) << name;
  }
}

TEST_F(CardDevices, AnImagedCardOnALoopDeviceIsListedAndRecoveredFromTheDevice) {
  CardImageOptions options;
  options.files = {{"CRW_0042.CRW", Photo(1, 60000)}, {"CRW_0043.CRW", Photo(2, 90000)}};
  options.deleted = true;
  std::string why;
  const std::string image = folder / "card.img";
  ASSERT_TRUE(MakeFatCardImage(image, options, &why)) << why;
  const std::string system = folder / "system.img";
  ASSERT_TRUE(MakeExt4Image(system, 16));
  LoopDevice card(image);
  LoopDevice other(system);
  ASSERT_FALSE(card.path().empty());
  ASSERT_FALSE(other.path().empty());

  ASSERT_EQ(Crwlog({"--list-cards"}), 0) << err;
  EXPECT_EQ(ListedColumns(out, card.path()),
            (std::vector<std::string>{card.path(), "16 MiB", "FAT16", "EOS_DIGITAL", image}))
      << out;
  EXPECT_TRUE(ListedColumns(out, other.path()).empty()) << "a loop device of another file system is no card";
  ASSERT_EQ(Crwlog({"--list-cards", "--all-drives"}), 0) << err;
  EXPECT_EQ(ListedColumns(out, other.path()), (std::vector<std::string>{other.path(), "16 MiB", "ext4", "-", system}))
      << out;

  // A card as it comes from the shop: one FAT partition in an MBR. The kernel
  // shows its partition where it reads partition tables of loop devices.
  CardImageOptions shopCard = options;
  shopCard.partitioned = true;
  shopCard.label = "CANON_SD";
  const std::string partitionedImage = folder / "partitioned.img";
  ASSERT_TRUE(MakeFatCardImage(partitionedImage, shopCard, &why)) << why;
  LoopDevice partitioned(partitionedImage);
  ASSERT_FALSE(partitioned.path().empty());
  ASSERT_EQ(Crwlog({"--list-cards"}), 0) << err;
  EXPECT_EQ(ListedColumns(out, partitioned.path()),
            (std::vector<std::string>{partitioned.path(), "16 MiB", "dos partitions", "-", partitionedImage}))
      << out;
  const std::string partition = partitioned.path() + "p1";
  if (fs::exists(partition)) {
    EXPECT_EQ(ListedColumns(out, partition),
              (std::vector<std::string>{partition, "15 MiB", "FAT16", "CANON_SD", partitionedImage}))
        << out;
  }
  ASSERT_EQ(Crwlog({"--recover", partitioned.path(), folder / "from-partitioned"}), 0) << err;
  EXPECT_EQ(ReadFile(folder / "from-partitioned/CRW_0001.CRW"), options.files[0].second);

  const std::vector<AttachedCard> cards = ListAttachedCards();
  const auto listed = std::find_if(cards.begin(), cards.end(), [&](const AttachedCard& c) { return c.path == card.path(); });
  ASSERT_NE(listed, cards.end());
  EXPECT_TRUE(listed->removable);
  EXPECT_EQ(listed->size, 16 << 20);

  ASSERT_EQ(Crwlog({"--recover", card.path(), folder / "out"}), 0) << err;
  // Named by the camera's file number, which the builder sets to 1 in every photo.
  EXPECT_EQ(ReadFile(folder / "out/CRW_0001.CRW"), options.files[0].second);
  EXPECT_EQ(ReadFile(folder / "out/CRW_0001 (2).CRW"), options.files[1].second);
  EXPECT_NE(out.find("bytes, Canon EOS DIGITAL REBEL\n"), std::string::npos) << out;

  // A descriptor opened elsewhere (as the drive service hands one over) reads the same.
  DeviceReader reader(::open(card.path().c_str(), O_RDONLY | O_CLOEXEC), card.path());
  EXPECT_EQ(reader.Size(), 16 << 20);
  LogLines log;
  fs::create_directory(folder / "again");
  EXPECT_EQ(RecoverCard(reader, folder / "again", log).recovered, 2);
}

TEST_F(CardDevices, AUserWhoMayNotReadTheDeviceIsToldTheCommandThatWorks) {
  const std::string image = folder.Write("card.img", Bytes(kCluster, 0));
  LoopDevice card(image);
  ASSERT_FALSE(card.path().empty());
  fs::permissions(folder.path(), fs::perms::all);
  const std::string output = folder / "out";
  EXPECT_EQ(Crwlog({"--recover", card.path(), output}, "65534"), 2);
  EXPECT_NE(err.find("\"" + card.path() + "\": cannot be read: Permission denied"), std::string::npos) << err;
  EXPECT_NE(err.find("sudo crwlog --recover " + card.path() + " " + output), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(output));
}

// A device tree as the kernel and udev show it, built in a folder: a USB card
// reader with one FAT partition, a fixed disk, an SD card known to udev alone,
// an unbound loop device and compressed swap.
class DeviceTreeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    Device("devices/pci0000:00/usb1/1-1/host6/block/sdb", "sdb", "8:16", 32768, "0");
    Write("devices/pci0000:00/usb1/1-1/host6/block/sdb/device/vendor", "Generic \n");
    Write("devices/pci0000:00/usb1/1-1/host6/block/sdb/device/model", "CF Reader       \n");
    Write("devices/pci0000:00/usb1/1-1/host6/block/sdb/sdb1/partition", "1\n");
    Write("devices/pci0000:00/usb1/1-1/host6/block/sdb/sdb1/dev", "8:17\n");
    Write("devices/pci0000:00/usb1/1-1/host6/block/sdb/sdb1/size", "30720\n");
    Device("devices/pci0000:00/ata1/block/sda", "sda", "8:0", 500118192, "0");
    Write("devices/pci0000:00/ata1/block/sda/device/model", "Samsung SSD 860\n");
    Device("devices/platform/mmc0/block/mmcblk0", "mmcblk0", "179:0", 62333952, "0");
    Write("devices/platform/mmc0/block/mmcblk0/device/type", "SD\n");
    Write("devices/platform/mmc0/block/mmcblk0/device/name", "SD32G\n");
    Device("devices/virtual/block/loop0", "loop0", "7:0", 0, "0");
    Device("devices/virtual/block/zram0", "zram0", "252:0", 8000000, "0");
    CardImageOptions card;
    card.mebibytes = 15;
    std::string why;
    ASSERT_TRUE(MakeFatCardImage(folder / "dev/sdb1", card, &why)) << why;
    Write("udev/b8:16", "E:ID_PART_TABLE_TYPE=dos\n");
    Write("udev/b179:0", "E:ID_FS_TYPE=exfat\nE:ID_FS_VERSION=1.0\nE:ID_FS_LABEL=CANON\n");
    Write("mountinfo", "30 26 8:17 / /media/ann/EOS\\040DIGITAL rw - vfat " + (folder / "dev/sdb1") + " rw\n");
    tree = {folder / "block", folder / "dev", folder / "udev", folder / "mountinfo"};
  }

  void Write(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(folder / name).parent_path());
    WriteFile(folder / name, Bytes(text.begin(), text.end()));
  }
  void Device(const std::string& at, const std::string& name, const std::string& number, long sectors,
              const std::string& removable) {
    Write(at + "/dev", number + "\n");
    Write(at + "/size", std::to_string(sectors) + "\n");
    Write(at + "/removable", removable + "\n");
    fs::create_directories(folder / "block");
    fs::create_directory_symlink(folder / at, folder / ("block/" + name));
  }

  ScratchFolder folder;
  DeviceTree tree;
};

TEST_F(DeviceTreeFolder, CardsAndRemovableDrivesAreListedWithTheirPartitionsAndFixedDisksOnlyWhenAskedFor) {
  const std::vector<AttachedCard> cards = ListAttachedCards(false, tree);
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0].path, folder / "dev/mmcblk0");
  EXPECT_EQ(cards[0].fileSystem, "exFAT");
  EXPECT_EQ(cards[0].label, "CANON");
  EXPECT_EQ(cards[0].description, "SD32G");
  EXPECT_EQ(cards[1].path, folder / "dev/sdb");
  EXPECT_EQ(cards[1].partitionTable, "dos");
  EXPECT_EQ(cards[1].description, "Generic CF Reader");
  EXPECT_EQ(cards[2].path, folder / "dev/sdb1");
  EXPECT_EQ(cards[2].wholePath, folder / "dev/sdb");
  EXPECT_EQ(cards[2].size, 15 << 20);
  EXPECT_EQ(cards[2].fileSystem, "FAT16");
  EXPECT_EQ(cards[2].label, "EOS_DIGITAL");
  EXPECT_EQ(cards[2].mountPoint, "/media/ann/EOS DIGITAL");

  const std::vector<AttachedCard> all = ListAttachedCards(true, tree);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1].path, folder / "dev/sda");
  EXPECT_FALSE(all[1].removable);
  EXPECT_EQ(all[1].description, "Samsung SSD 860");

  // The state the chooser watches changes with the devices and mounts, and only then.
  const std::string state = DeviceTreeState(tree);
  EXPECT_EQ(DeviceTreeState(tree), state);
  Write("devices/platform/mmc0/block/mmcblk0/size", "0\n");  // the SD card taken out
  const std::string cardOut = DeviceTreeState(tree);
  EXPECT_NE(cardOut, state);
  Write("mountinfo", "");
  EXPECT_NE(DeviceTreeState(tree), cardOut);
  EXPECT_EQ(ListAttachedCards(false, tree).size(), 2u);
}

TEST(CardList, OneAlignedLinePerDeviceOrPartitionWithSizesAsTheBoxSaysThem) {
  AttachedCard reader;
  reader.path = "/dev/sdb";
  reader.size = std::int64_t{512} << 20;
  reader.partitionTable = "dos";
  reader.description = "Generic CF Reader";
  AttachedCard partition = reader;
  partition.path = "/dev/sdb1";
  partition.wholePath = "/dev/sdb";
  partition.partitionTable.clear();
  partition.fileSystem = "FAT16";
  partition.label = "EOS_DIGITAL";
  EXPECT_EQ(CardListText({partition}), "/dev/sdb1  512 MiB  FAT16  EOS_DIGITAL  Generic CF Reader\n");
  EXPECT_EQ(CardListText({reader, partition}),
            "/dev/sdb   512 MiB  dos partitions  -            Generic CF Reader\n"
            "/dev/sdb1  512 MiB  FAT16           EOS_DIGITAL  Generic CF Reader\n");
  EXPECT_EQ(CardListText({}), "");
  EXPECT_EQ(DeviceSizeText(std::int64_t{2000} << 20), "2.0 GiB");
  EXPECT_EQ(DeviceSizeText(std::int64_t{1946} << 20), "1.9 GiB");
  EXPECT_EQ(DeviceSizeText(std::int64_t{15} << 30), "15 GiB");
  EXPECT_EQ(DeviceSizeText(1000), "1000 bytes");
}

}  // namespace
}  // namespace mendrake::testing
