// Writes that fail: a full card, a read-only folder, a folder gone between the
// run and Save. Each must end with an error that names the file and the
// reason, leave no partial output and keep an existing file of the output name.
#include "files/FileError.h"
#include "output/Writers.h"
#include "repair/RepairRun.h"
#include "repair/SaveCommands.h"
#include "tests/support/RunFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

// A small tmpfs mounted on a folder for the life of the object, when this
// process may mount one (root in a namespace that allows it).
class TmpfsMount {
 public:
  static std::unique_ptr<TmpfsMount> Mount(const std::string& folder, std::size_t bytes) {
    fs::create_directories(folder);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return nullptr;
    return std::unique_ptr<TmpfsMount>(new TmpfsMount(folder));
  }
  ~TmpfsMount() { ::umount2(folder_.c_str(), MNT_DETACH); }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool MakeReadOnly() { return ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  explicit TmpfsMount(std::string folder) : folder_(std::move(folder)) {}
  std::string folder_;
};

// Lets this process write no file past a size, as a full card would; writes
// past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Slurp(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void Put(const std::string& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

class WriteFaults : public RunFixture {
 protected:
  // A camera file with raw data and a thumbnail of some size, analysed as a run would.
  Source AnalyseLargeFile(const std::string& path, std::size_t rawBytes, int thumbnailSide) {
    CameraFileOptions options;
    options.rawDataSize = rawBytes;
    options.thumbnail = MakeJpeg(thumbnailSide, thumbnailSide);
    Source source{path, MakeCameraFile(options), 0, options.thumbnail};
    source.trueSize = source.bytes.size();
    AppendJunk(source.bytes, JunkKind::kRandom, 1000);
    WriteFile(source.path, source.bytes);
    FileImage image;
    EXPECT_TRUE(RepairFileOfRun(context, image, source.path));
    EXPECT_TRUE(SearchFoundSize(state));
    return source;
  }

  // The error names the file and says why; the folder holds what it held before.
  template <typename Write>
  void ExpectFailureNaming(const std::string& file, const std::string& reason, Write write) {
    try {
      write();
      ADD_FAILURE() << "the write succeeded";
    } catch (const FileError& error) {
      EXPECT_EQ(error.path(), file);
      EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
    }
  }

  void ExpectUntouched(const std::string& folderPath, const std::vector<std::string>& entries,
                       const std::string& existing, const std::string& content) {
    EXPECT_EQ(EntriesOf(folderPath), entries);
    EXPECT_EQ(Slurp(existing), content);
  }
};

TEST_F(WriteFaults, AFullCardFailsBothWritersNamingTheOutputAndKeepsTheOldFiles) {
  const std::string card = folder / "card";
  const auto mounted = TmpfsMount::Mount(card, 16 << 10);
  if (!mounted) GTEST_SKIP() << "this process may not mount a tmpfs";
  const Source source = AnalyseLargeFile(folder / "IMG_0001.CRW", 256 << 10, 512);
  ASSERT_GT(source.thumbnail.size(), std::size_t{16} << 10);

  const std::string repaired = card + "/IMG_0001.CRW_repaired.CRW";
  const std::string thumbnail = card + "/IMG_0001.jpg";
  Put(repaired, "the copy saved last week");
  Put(thumbnail, "the thumbnail saved last week");
  const std::vector<std::string> before = EntriesOf(card);

  platform.answers = {card + "/IMG_0001.CRW", thumbnail};
  ExpectFailureNaming(repaired, "No space left on device", [&] { actSaveExecute(context); });
  ExpectUntouched(card, before, repaired, "the copy saved last week");
  ExpectFailureNaming(thumbnail, "No space left on device", [&] { actSaveJPEGExecute(context); });
  ExpectUntouched(card, before, thumbnail, "the thumbnail saved last week");
}

TEST_F(WriteFaults, AFullCardEndsAMultiFileRunAtTheFirstOutput) {
  const std::string card = folder / "card";
  const auto mounted = TmpfsMount::Mount(card, 1 << 20);
  if (!mounted) GTEST_SKIP() << "this process may not mount a tmpfs";
  // Two sources of 300 KiB fill the card but for less than either copy needs.
  CameraFileOptions options;
  options.rawDataSize = 300 << 10;
  options.thumbnail = MakeJpeg(64, 48);
  Bytes file = MakeCameraFile(options);
  AppendJunk(file, JunkKind::kZeros, 100);
  WriteFile(card + "/A.CRW", file);
  WriteFile(card + "/B.CRW", file);
  WriteFile(card + "/filler", Bytes((1 << 20) - 2 * file.size() - (200 << 10), 0x11));
  const std::string repaired = card + "/A.CRW_repaired.CRW";
  Put(repaired, "old");
  const std::vector<std::string> before = EntriesOf(card);

  ExpectFailureNaming(repaired, "No space left on device", [&] { RepairRun(context, {card + "/A.CRW", card + "/B.CRW"}); });
  ExpectUntouched(card, before, repaired, "old");
  EXPECT_FALSE(Logged("Repairing file " + card + "/B.CRW"));
}

TEST_F(WriteFaults, AWriteThatFailsPartWayLeavesNoPartialFileAndTheOldOneIntact) {
  // Needs no mount: the file size limit makes the copy fail after its first bytes.
  const Source source = AnalyseLargeFile(folder / "IMG_0002.CRW", 256 << 10, 64);
  const std::string out = folder / "out";
  fs::create_directories(out);
  const std::string repaired = out + "/IMG_0002.CRW_repaired.CRW";
  Put(repaired, "old");
  const std::vector<std::string> before = EntriesOf(out);

  platform.answers = {out + "/IMG_0002.CRW"};
  {
    const FileSizeLimit limit(64 << 10);
    ExpectFailureNaming(repaired, "File too large", [&] { actSaveExecute(context); });
  }
  ExpectUntouched(out, before, repaired, "old");
}

TEST_F(WriteFaults, AReadOnlyFolderFailsNamingTheOutputAndKeepsTheOldFiles) {
  const std::string card = folder / "card";
  std::unique_ptr<TmpfsMount> mounted;
  std::string reason = "Permission denied";
  if (::geteuid() == 0) {
    // Root writes into folders whatever their permission bits say: only a read-only mount stops it.
    mounted = TmpfsMount::Mount(card, 1 << 20);
    if (!mounted) GTEST_SKIP() << "running as root and may not mount a read-only tmpfs";
    reason = "Read-only file system";
  } else {
    fs::create_directories(card);
  }
  const Source source = AnalyseLargeFile(folder / "IMG_0003.CRW", 4096, 64);
  const std::string repaired = card + "/IMG_0003.CRW_repaired.CRW";
  const std::string thumbnail = card + "/IMG_0003.jpg";
  Put(repaired, "old copy");
  Put(thumbnail, "old thumbnail");
  if (mounted) {
    ASSERT_TRUE(mounted->MakeReadOnly());
  } else {
    fs::permissions(card, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const std::vector<std::string> before = EntriesOf(card);

  platform.answers = {card + "/IMG_0003.CRW", thumbnail};
  ExpectFailureNaming(repaired, reason, [&] { actSaveExecute(context); });
  ExpectFailureNaming(thumbnail, reason, [&] { actSaveJPEGExecute(context); });
  ExpectUntouched(card, before, repaired, "old copy");
  EXPECT_EQ(Slurp(thumbnail), "old thumbnail");
  if (!mounted) fs::permissions(card, fs::perms::owner_all);
}

TEST_F(WriteFaults, ASourceFolderRemovedAfterTheRunFailsSaveNamingTheSource) {
  const std::string card = folder / "card";
  fs::create_directories(card);
  const Source source = AnalyseLargeFile(card + "/IMG_0004.CRW", 4096, 64);
  fs::remove_all(card);
  const std::string out = folder / "out";
  fs::create_directories(out);
  const std::string repaired = out + "/IMG_0004.CRW_repaired.CRW";
  const std::string thumbnail = out + "/IMG_0004.jpg";
  Put(repaired, "old copy");
  Put(thumbnail, "old thumbnail");
  const std::vector<std::string> before = EntriesOf(out);

  platform.answers = {out + "/IMG_0004.CRW", thumbnail};
  ExpectFailureNaming(source.path, "No such file or directory", [&] { actSaveExecute(context); });
  ExpectFailureNaming(source.path, "No such file or directory", [&] { actSaveJPEGExecute(context); });
  ExpectUntouched(out, before, repaired, "old copy");
  EXPECT_EQ(Slurp(thumbnail), "old thumbnail");
}

TEST_F(WriteFaults, AnOutputFolderRemovedBeforeSaveFailsNamingTheOutput) {
  // The dialog answers with a folder that is gone by the time the file is written.
  const Source source = AnalyseLargeFile(folder / "IMG_0005.CRW", 4096, 64);
  const std::string gone = folder / "gone";
  const std::string repaired = gone + "/IMG_0005.CRW_repaired.CRW";
  const std::string thumbnail = gone + "/IMG_0005.jpg";

  platform.answers = {gone + "/IMG_0005.CRW", thumbnail};
  ExpectFailureNaming(repaired, "No such file or directory", [&] { actSaveExecute(context); });
  ExpectFailureNaming(thumbnail, "No such file or directory", [&] { actSaveJPEGExecute(context); });
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_EQ(EntriesOf(folder.path()), std::vector<std::string>{"IMG_0005.CRW"});
}

TEST_F(WriteFaults, ASourceChangedAfterItsAnalysisIsNotCopied) {
  const std::string changed = "the file changed after it was analysed; open it again";
  const Source source = AnalyseLargeFile(folder / "IMG_0006.CRW", 4096, 64);
  const std::string out = folder / "out";
  fs::create_directories(out);
  platform.answers = {out + "/IMG_0006.CRW", out + "/IMG_0006.jpg"};

  // Rewritten in place at the same size: the same inode, another modification time.
  Bytes rewritten = source.bytes;
  rewritten[rewritten.size() / 2] ^= 0xFF;
  {
    std::fstream file(source.path, std::ios::in | std::ios::out | std::ios::binary);
    file.write(reinterpret_cast<const char*>(rewritten.data()), static_cast<std::streamsize>(rewritten.size()));
  }
  struct stat info {};
  ASSERT_EQ(::stat(source.path.c_str(), &info), 0);
  // One second on, whatever the clock's grain: an editor's save, not a copy keeping the time.
  const timespec times[2] = {{0, UTIME_OMIT}, {info.st_mtim.tv_sec + 1, info.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, source.path.c_str(), times, 0), 0);
  ExpectFailureNaming(source.path, changed, [&] { actSaveExecute(context); });

  // Replaced by another file with the very same bytes and time: another inode.
  const std::string other = folder / "other.CRW";
  WriteFile(other, source.bytes);
  fs::rename(other, source.path);
  ExpectFailureNaming(source.path, changed, [&] { actSaveJPEGExecute(context); });
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_EQ(platform.dialogs.size(), 1u);  // the repaired copy is refused before its dialog
}

TEST_F(WriteFaults, AMultiFileRunWritesNothingOfASourceChangedDuringItsSearch) {
  const Source first = WriteCameraFile("A.CRW", 200000);
  const Source second = WriteCameraFile("B.CRW");
  bool replaced = false;
  platform.onEvents = [&] {
    if (replaced) return;
    // Another copy of the same bytes takes the name while the search runs.
    WriteFile(folder / "copy", first.bytes);
    fs::rename(folder / "copy", first.path);
    replaced = true;
  };
  ExpectFailureNaming(first.path, "the file changed after it was analysed; open it again",
                      [&] { RepairRun(context, {first.path, second.path}); });
  EXPECT_TRUE(replaced);
  EXPECT_EQ(EntriesOf(folder.path()), (std::vector<std::string>{"A.CRW", "B.CRW"}));
}

}  // namespace
}  // namespace mendrake::testing
