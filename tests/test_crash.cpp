// Error reports: a process that crashes on purpose leaves a report that says
// what happened and where; reports are kept, pruned and split into sections.
#include "crash/CrashHandler.h"
#include "crash/ReportStore.h"
#include "tests/support/CrwBuilder.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mendrake::crash {
namespace {

namespace fs = std::filesystem;

[[gnu::noinline]] void CrashOnPurpose() {
  volatile std::uintptr_t nowhere = 0;
  *reinterpret_cast<volatile int*>(nowhere) = 42;
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/mendrake-crash-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string SectionText(const std::string& report, const std::string& title) {
  for (const ReportSection& section : SplitReport(report)) {
    if (section.title == title) return section.text;
  }
  return {};
}

// Runs the body in a child with the handler installed; returns its one report.
std::string ReportOfChildThat(void (*body)(), int expectedSignal, const fs::path& state) {
  const pid_t child = fork();
  if (child == 0) {
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    static const std::string currentFilename = "/photos/IMG_0042.CRW";
    InstallCrashHandler({.program = "test_crash"}, &currentFilename);
    Notes().AppendLogLine("Repairing file /photos/IMG_0042.CRW");
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == expectedSignal) << "status " << status;
  const fs::path folder = state / "mendrake" / "crash-reports";
  std::vector<fs::path> reports;
  for (const auto& entry : fs::directory_iterator(folder)) reports.push_back(entry.path());
  EXPECT_EQ(reports.size(), 1u) << "only the report stays; the dump is removed";
  return reports.empty() ? std::string() : ReadText(reports.front());
}

TEST(CrashHandler, ASegmentationFaultLeavesAReportOfWhereAndHowTheProcessDied) {
  if (!CrashHandlerBuiltIn()) GTEST_SKIP() << "this build leaves fatal signals to the sanitizers";
  TempFolder state;
  const std::string report = ReportOfChildThat(CrashOnPurpose, SIGSEGV, state.Path());

  const std::string summary = SectionText(report, "Summary");
  EXPECT_NE(summary.find("SIGSEGV"), std::string::npos) << summary;
  EXPECT_NE(summary.find("SEGV_MAPERR"), std::string::npos);
  EXPECT_NE(summary.find("Fault address:    0x0"), std::string::npos);
  EXPECT_NE(summary.find("CurrentFilename:  /photos/IMG_0042.CRW"), std::string::npos);
  EXPECT_NE(summary.find("  Repairing file /photos/IMG_0042.CRW"), std::string::npos);

  // The first frame is the crashing function, with its own source file.
  const std::string stack = SectionText(report, "Call stack");
  const std::size_t first = stack.find("#0 ");
  ASSERT_NE(first, std::string::npos) << stack;
  const std::string firstFrame = stack.substr(first, stack.find('\n', first) - first);
  EXPECT_NE(firstFrame.find("CrashOnPurpose"), std::string::npos) << stack;
  EXPECT_NE(firstFrame.find("test_crash.cpp:"), std::string::npos) << stack;

  EXPECT_NE(SectionText(report, "Modules").find("/test_crash\n"), std::string::npos);
  EXPECT_NE(SectionText(report, "Processes").find("test_crash"), std::string::npos);
  const std::string processor = SectionText(report, "Processor");
#if defined(__x86_64__)
  EXPECT_NE(processor.find("rip "), std::string::npos) << processor;
#endif
  EXPECT_NE(processor.find("Registers at the fault"), std::string::npos);
  EXPECT_NE(processor.find("Kernel:"), std::string::npos);
}

TEST(CrashHandler, AnAbortIsReportedAndStillEndsTheProcessWithSigabrt) {
  if (!CrashHandlerBuiltIn()) GTEST_SKIP() << "this build leaves fatal signals to the sanitizers";
  TempFolder state;
  const std::string report = ReportOfChildThat([] { std::abort(); }, SIGABRT, state.Path());
  EXPECT_NE(SectionText(report, "Summary").find("SIGABRT"), std::string::npos) << report;
  EXPECT_NE(SectionText(report, "Call stack").find("abort"), std::string::npos);
}

// A card image of photos one after another, each from a sector start.
std::string WriteCardOfPhotos(const fs::path& folder, int photos) {
  testing::Bytes card;
  for (int i = 0; i < photos; ++i) {
    testing::Bytes photo = testing::MakeCameraFile({.rawDataSize = 2048});
    photo.resize((photo.size() + 511) / 512 * 512, 0);
    card.insert(card.end(), photo.begin(), photo.end());
  }
  const fs::path path = folder / "card.img";
  testing::WriteFile(path.string(), card);
  return path.string();
}

TEST(CrashHandler, ACrashDuringACardRecoveryReportsTheRecoverysLastLogLines) {
  if (!CrashHandlerBuiltIn()) GTEST_SKIP() << "this build leaves fatal signals to the sanitizers";
  TempFolder state;
  const std::string card = WriteCardOfPhotos(state.Path(), 200);
  const std::string output = (state.Path() / "recovered").string();
  const std::string crwlog = std::string(MENDRAKE_BIN_DIR) + "/crwlog";

  // The log goes into a pipe of one page that is not read: the recovery's
  // two hundred lines cannot all go in, so crwlog is still at work when its
  // first lines have arrived, and is killed there.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int pipeSize = fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(pipeSize, 0);
  const pid_t child = fork();
  if (child == 0) {
    setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
    dup2(pipeEnds[1], STDOUT_FILENO);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDERR_FILENO);
    close(pipeEnds[0]);
    execl(crwlog.c_str(), "crwlog", "--recover", card.c_str(), output.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  int held = 0;
  int status = 0;
  // Each look is a condition, not a deadline: half a pipe of lines, or crwlog ended.
  while (held < pipeSize / 2 && waitpid(child, &status, WNOHANG) == 0) {
    usleep(1000);
    ASSERT_EQ(ioctl(pipeEnds[0], FIONREAD, &held), 0);
  }
  ASSERT_GE(held, pipeSize / 2) << "crwlog ended before its log filled half the pipe";
  kill(child, SIGSEGV);
  waitpid(child, &status, 0);
  close(pipeEnds[0]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << "status " << status;

  const fs::path folder = state.Path() / "mendrake" / "crash-reports";
  std::vector<fs::path> reports;
  for (const auto& entry : fs::directory_iterator(folder)) reports.push_back(entry.path());
  ASSERT_EQ(reports.size(), 1u);
  const std::string summary = SectionText(ReadText(reports.front()), "Summary");
  EXPECT_NE(summary.find("CurrentFilename:  " + card), std::string::npos) << summary;
  // Lines of photos written, as the log showed them.
  EXPECT_NE(summary.find("  At 0: "), std::string::npos) << summary;
  EXPECT_NE(summary.find(".CRW, "), std::string::npos) << summary;
}

TEST(ReportStore, KeepsTheNewestReportsAndRemembersWhichWereShown) {
  TempFolder state;
  const fs::path folder = state.Path() / "reports";
  const std::time_t start = 1700000000;
  fs::path first, last;
  for (int i = 0; i < static_cast<int>(kReportsKept) + 2; ++i) {
    last = SaveReport(folder, "report " + std::to_string(i), start + i, i % 2 == 1);
    if (i == 0) first = last;
  }
  std::size_t kept = 0;
  for (const auto& entry : fs::directory_iterator(folder)) kept += entry.path().extension() == ".txt";
  EXPECT_EQ(kept, kReportsKept);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_EQ(ReadText(last), "report " + std::to_string(kReportsKept + 1));

  std::vector<fs::path> unshown = UnshownReports(folder);
  EXPECT_EQ(unshown.size(), kReportsKept / 2);
  EXPECT_EQ(unshown.back(), last);
  MarkShown(last);
  EXPECT_EQ(UnshownReports(folder).size(), kReportsKept / 2 - 1);

  // Two reports in the same second get names of their own.
  const std::time_t later = start + 100;
  const fs::path one = SaveReport(folder, "a", later, false);
  const fs::path two = SaveReport(folder, "b", later, false);
  EXPECT_NE(one, two);
  EXPECT_LT(one, two) << "names sort in the order of writing";
}

TEST(ReportStore, SplitsAReportIntoItsSectionsInOrder) {
  const std::vector<ReportSection> sections =
      SplitReport("Mendrake error report\n\nSummary\n=======\n\nSignal: SIGSEGV\n\nCall stack\n==========\n\n#0 f\n");
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].title, "Summary");
  EXPECT_EQ(sections[0].text, "Signal: SIGSEGV");
  EXPECT_EQ(sections[1].title, "Call stack");
  EXPECT_EQ(sections[1].text, "#0 f");
}

}  // namespace
}  // namespace mendrake::crash
