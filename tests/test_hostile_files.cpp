// Files made to hurt the analysis. Each must end with a complete log and no
// crash, both in-process and through crwlog; the crwlog run's time and peak
// memory are printed, for the record (`ctest -R Hostile -V`).
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/SizeSearch.h"
#include "analysis/WalkLimits.h"
#include "files/FileError.h"
#include "repair/RepairRun.h"
#include "tests/support/HostileFiles.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mendrake::testing {

// Names the case in test listings.
void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

namespace {

struct Analysis {
  AnalysisState state;
  LogLines log;
  bool isCrw = false;
};

// A run of the one file, as crwlog makes it: the search and then the preview.
Analysis AnalyseInProcess(const std::string& path) {
  Analysis analysis;
  HeadlessPlatform platform;
  RepairContext context{analysis.state, analysis.log, platform};
  RepairRun(context, {path});
  analysis.isCrw = !analysis.state.CurrentFilename.empty();
  return analysis;
}

struct ToolRun {
  int exitCode = -1;
  std::vector<std::string> out;
  std::string err;
  double seconds = 0;
  long peakKiB = 0;
};

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// GNU time measures the tool alone: the rusage of a spawned child also counts
// the memory of the test process it was spawned from.
constexpr const char* kTimeTool = "/usr/bin/time";

// Runs crwlog on one file, with its output in files beside the input.
ToolRun RunCrwlog(const std::string& path) {
  const std::string outPath = path + ".out";
  const std::string errPath = path + ".err";
  const std::string measurePath = path + ".time";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string tool = std::string(MENDRAKE_BIN_DIR) + "/crwlog";
  std::vector<std::string> args = {tool, path};
  const bool measured = ::access(kTimeTool, X_OK) == 0;
  if (measured) args.insert(args.begin(), {kTimeTool, "-f", "%e %M", "-o", measurePath});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ToolRun run;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << tool;
    return run;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (measured) {
    // A failing tool's exit status comes first, on a line of its own.
    const std::vector<std::string> measures = Lines(Text(ReadFile(measurePath)));
    if (!measures.empty()) std::istringstream(measures.back()) >> run.seconds >> run.peakKiB;
    ::unlink(measurePath.c_str());
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const Bytes out = ReadFile(outPath);
  const Bytes err = ReadFile(errPath);
  run.out = Lines(Text(out));
  run.err = Text(err);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  return run;
}

// A whole report: the file named first, then the verdict or the size report
// last, before the preview's complaints about a thumbnail that is no JPEG.
void ExpectCompleteLog(std::vector<std::string> lines, const std::string& path) {
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "Repairing file " + path);
  while (lines.size() > 2 && lines.back() == "Unable to preview the JPEG") lines.pop_back();
  const std::string& last = lines.back();
  const bool rejected = last == "The file is not a valid CRW file.";
  const bool reported = last == "Successfully repaired file." || last.rfind("Old filesize was:  ", 0) == 0;
  EXPECT_TRUE(rejected || reported) << "last line: " << last;
  EXPECT_LE(lines.size(), static_cast<std::size_t>(WalkLimits::kMaxLogLinesPerFile) + 5);
}

class HostileFile : public ::testing::TestWithParam<HostileCase> {
 protected:
  void SetUp() override {
    // Named for this process too: another clone's run of the same case may share the folder.
    path_ = ::testing::TempDir() + "hostile-" + std::to_string(::getpid()) + "-" + GetParam().name + ".crw";
    WriteFile(path_, GetParam().build());
  }
  void TearDown() override { ::unlink(path_.c_str()); }
  std::string path_;
};

TEST_P(HostileFile, EndsWithACompleteLogInProcessAndThroughCrwlog) {
  const Analysis analysis = AnalyseInProcess(path_);
  ExpectCompleteLog(analysis.log.Lines(), path_);
  if (analysis.isCrw) {
    const AnalysisState& state = analysis.state;
    EXPECT_EQ(state.CurrentFilename, path_);
    EXPECT_EQ(SearchFoundSize(state), AllRequiredRecordsFound(state));
  }

  const ToolRun run = RunCrwlog(path_);
  const bool repaired = analysis.isCrw && SearchFoundSize(analysis.state);
  EXPECT_EQ(run.exitCode, repaired ? 0 : 1) << run.err;
  EXPECT_EQ(run.out, analysis.log.Lines());
  std::printf("%-55s crwlog %.2f s, peak %ld KiB (0: not measured), %zu lines\n", GetParam().name, run.seconds, run.peakKiB,
              run.out.size());
}

std::string CaseName(const ::testing::TestParamInfo<HostileCase>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileFile, ::testing::ValuesIn(HostileCases()), CaseName);

const HostileCase& Case(const std::string& name) {
  for (const HostileCase& c : HostileCases()) {
    if (name == c.name) return c;
  }
  throw std::invalid_argument("no hostile case " + name);
}

Analysis AnalyseCase(const std::string& name) {
  // Apart from the parameterised runs of the same case, which may run alongside.
  const std::string path = ::testing::TempDir() + "hostile-expect-" + std::to_string(::getpid()) + "-" + name + ".crw";
  WriteFile(path, Case(name).build());
  Analysis analysis = AnalyseInProcess(path);
  ::unlink(path.c_str());
  return analysis;
}

TEST(HostileHeader, ThirteenBytesAreNoCrwFileAndFourteenAreOneWithNothingToSearch) {
  EXPECT_FALSE(AnalyseCase("13-bytes").isCrw);

  const Analysis fourteen = AnalyseCase("14-bytes");
  EXPECT_TRUE(fourteen.isCrw);
  EXPECT_EQ(fourteen.state.FFilesize, 15);  // no candidate tried: the image size plus 1
  EXPECT_FALSE(SearchFoundSize(fourteen.state));

  const Analysis rootAtZero = AnalyseCase("14-bytes-root-at-0");
  EXPECT_TRUE(rootAtZero.isCrw);
  EXPECT_EQ(rootAtZero.state.FFilesize, 1);  // every candidate failed: HLen + 1
}

TEST(HostileTail, EveryCandidateOfAZeroTailReachesTheDirectoryAndTheLogStaysCapped) {
  const Analysis analysis = AnalyseCase("plausible-directory-then-64-MiB-of-zeros");
  EXPECT_FALSE(SearchFoundSize(analysis.state));
  EXPECT_EQ(analysis.state.FFilesize, std::int64_t{analysis.state.HLen} + 1);
  EXPECT_TRUE(analysis.state.FoundName && analysis.state.FoundSize && analysis.state.FoundDATA);
  const auto& lines = analysis.log.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), CappedLog::kOmittedLine), lines.end());
}

TEST(HostileLoops, ASubHeapThatIsItsOwnParentIsWalkedABoundedNumberOfTimes) {
  for (const char* name : {"sub-heap-spanning-its-parent", "sub-heap-naming-the-root-by-wrapped-offset"}) {
    SCOPED_TRACE(name);
    const Analysis analysis = AnalyseCase(name);
    EXPECT_FALSE(SearchFoundSize(analysis.state));
    // Each root walk re-enters the loop at most once per allowed sub-heap.
    const auto& lines = analysis.log.Lines();
    const auto makes = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Make: ", 0) == 0;
    });
    EXPECT_GT(makes, 1);
    EXPECT_LE(makes, WalkLimits::kMaxLogLinesPerFile);
  }
}

TEST(HostileRecords, AThumbnailClaimingFourGiBIsRecordedAsFound) {
  // Only the writer may fail on it, when it copies the bytes; the search does not.
  const Analysis analysis = AnalyseCase("sizes-of-4-GiB");
  EXPECT_TRUE(SearchFoundSize(analysis.state));
  EXPECT_TRUE(analysis.state.FoundJPEG);
  EXPECT_EQ(analysis.state.JPEGSize, 0xFFFFFFFFu);
}

TEST(HostileRecords, AThumbnailClaimingMoreThanTheFileEndsAMultiFileRunWithoutAPartialFile) {
  const ScratchFolder folder;
  const Bytes bytes = Case("sizes-of-4-GiB").build();
  const std::string first = folder / "A.CRW";
  WriteFile(first, bytes);
  WriteFile(folder / "B.CRW", bytes);
  AnalysisState state;
  LogLines log;
  HeadlessPlatform platform;
  RepairContext context{state, log, platform};
  try {
    RepairRun(context, {first, folder / "B.CRW"});
    ADD_FAILURE() << "the run wrote a thumbnail of 4 GiB";
  } catch (const FileError& error) {
    EXPECT_EQ(error.path(), first);
    EXPECT_NE(std::string(error.what()).find("4294967295"), std::string::npos) << error.what();
  }
  // The repaired copy came first and is whole; the thumbnail was never begun.
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"A.CRW", "A.CRW_repaired.CRW", "B.CRW"}));
  EXPECT_EQ(static_cast<std::int64_t>(ReadFile(folder / "A.CRW_repaired.CRW").size()), state.FFilesize);
  const auto& lines = log.Lines();
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Repairing file " + folder / "B.CRW"), lines.end());
}

// A file of 2 GiB or more cannot be held; the error names the file.
class HugeFile : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(HugeFile, FailsWithAnErrorNamingTheFile) {
  const std::string path = ::testing::TempDir() + "hostile-huge-" + std::to_string(GetParam()) + ".crw";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const Bytes header = Case("14-bytes").build();
    ASSERT_EQ(::write(fd, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    const bool sparse = ::ftruncate(fd, GetParam()) == 0;
    ::close(fd);
    if (!sparse) {
      ::unlink(path.c_str());
      GTEST_SKIP() << "this file system holds no sparse file of " << GetParam() << " bytes";
    }
  }

  AnalysisState state;
  LogLines log;
  HeadlessPlatform platform;
  RepairContext context{state, log, platform};
  FileImage image;
  try {
    RepairFile(context, image, path);
    ADD_FAILURE() << "a file of " << GetParam() << " bytes was accepted";
  } catch (const FileError& error) {
    EXPECT_EQ(error.path(), path);
    EXPECT_NE(std::string(error.what()).find("2 GiB"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_TRUE(state.CurrentFilename.empty());

  const ToolRun run = RunCrwlog(path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
  std::printf("huge file of %lld bytes: crwlog %.2f s, peak %ld KiB\n", static_cast<long long>(GetParam()), run.seconds,
              run.peakKiB);
  ::unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Hostile, HugeFile,
                         ::testing::Values(std::int64_t{1} << 31, (std::int64_t{1} << 32) + 20));

// Opening a FIFO for reading would wait for a writer, and with it the window
// or the tool; it is refused at once instead, like any file that is not regular.
TEST(NotARegularFile, AFifoIsRefusedWithoutWaitingForAWriter) {
  ScratchFolder folder;
  const std::string fifo = folder / "IMG_0042.CRW";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::promise<std::string> outcome;
  std::future<std::string> reason = outcome.get_future();
  std::thread load([&] {
    FileImage image;
    try {
      image.LoadFromFile(fifo);
      outcome.set_value("loaded");
    } catch (const FileError& error) {
      outcome.set_value(error.reason());
    }
  });
  const bool answered = reason.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!answered) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets a waiting open return
  load.join();
  EXPECT_TRUE(answered) << "the open waited for a writer";
  EXPECT_EQ(reason.get(), "this is not a regular file");
}

}  // namespace
}  // namespace mendrake::testing
