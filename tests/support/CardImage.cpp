#include "tests/support/CardImage.h"

#include "tests/support/BlockDeviceFixtures.h"

#include <filesystem>
#include <fstream>

namespace mendrake::testing {
namespace {

// Cards from the shop start their one partition at 1 MiB (sector 2048).
constexpr std::size_t kPartitionStartSector = 2048;
constexpr std::size_t kSector = 512;
// The MBR's partition type for FAT16 with LBA addressing.
constexpr std::uint8_t kFat16Lba = 0x0E;

void WriteMbr(const std::string& path, std::size_t sectors) {
  Bytes mbr(kSector, 0);
  Bytes entry = {0x00, 0, 0, 0, kFat16Lba, 0, 0, 0};
  Put32(entry, static_cast<std::uint32_t>(kPartitionStartSector), false);
  Put32(entry, static_cast<std::uint32_t>(sectors - kPartitionStartSector), false);
  std::copy(entry.begin(), entry.end(), mbr.begin() + 446);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.write(reinterpret_cast<const char*>(mbr.data()), static_cast<std::streamsize>(mbr.size()));
}

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

bool MakeFatCardImage(const std::string& path, const CardImageOptions& options, std::string* why) {
  const std::size_t sectors = options.mebibytes * 1024 * 1024 / kSector;
  std::filesystem::remove(path);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  { std::ofstream(path, std::ios::binary); }
  std::filesystem::resize_file(path, sectors * kSector);
  std::string image = ShellQuoted(path);
  std::string format = "mkfs.vfat -F 16 -n " + ShellQuoted(options.label);
  if (options.partitioned) {
    WriteMbr(path, sectors);
    format += " --offset=" + std::to_string(kPartitionStartSector);
    image = ShellQuoted(path + "@@" + std::to_string(kPartitionStartSector * kSector));
  }
  const std::size_t fsSectors = options.partitioned ? sectors - kPartitionStartSector : sectors;
  if (RunShell(format + " " + ShellQuoted(path) + " " + std::to_string(fsSectors / 2)) != 0) {
    return Fail(why, "mkfs.vfat (dosfstools) failed or is missing");
  }
  if (options.files.empty()) return true;
  if (RunShell("mmd -i " + image + " ::DCIM ::DCIM/100CANON") != 0) return Fail(why, "mmd (mtools) failed or is missing");
  const std::string staged = path + ".files";
  std::filesystem::create_directories(staged);
  bool copied = true;
  for (const auto& [name, bytes] : options.files) {
    WriteFile(staged + "/" + name, bytes);
    copied = copied && RunShell("mcopy -i " + image + " " + ShellQuoted(staged + "/" + name) + " " +
                                ShellQuoted("::DCIM/100CANON/" + name)) == 0;
  }
  std::filesystem::remove_all(staged);
  if (!copied) return Fail(why, "mcopy (mtools) failed");
  if (options.deleted && RunShell("mdel -i " + image + " '::DCIM/100CANON/*'") != 0) {
    return Fail(why, "mdel (mtools) failed");
  }
  if (options.formatted && RunShell(format + " " + ShellQuoted(path) + " " + std::to_string(fsSectors / 2)) != 0) {
    return Fail(why, "mkfs.vfat (dosfstools) failed");
  }
  return true;
}

bool MakeExt4Image(const std::string& path, std::size_t mebibytes) {
  { std::ofstream(path, std::ios::binary); }
  std::filesystem::resize_file(path, mebibytes * 1024 * 1024);
  return RunShell("mkfs.ext4 -q -F " + ShellQuoted(path)) == 0;
}

}  // namespace mendrake::testing
