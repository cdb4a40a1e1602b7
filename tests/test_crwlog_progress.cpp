// The scan's progress: bytes read, pace and time left, on one line rewritten
// in place at a terminal, and nothing where standard error is no terminal.
// The clock is a test's own: nothing here waits or measures time.
#include "recovery/ProgressLine.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"
#include "tools/TerminalProgress.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace mendrake::testing {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

TEST(ProgressLine, SaysWhatWasReadThePaceAndTheTimeLeft) {
  EXPECT_EQ(RecoveryProgressLine({0, 300 * kMiB, 0}, 0), "0.0 MiB of 300.0 MiB read, 0 files found");
  EXPECT_EQ(RecoveryProgressLine({100 * kMiB, 300 * kMiB, 1}, 1.0),
            "100.0 MiB of 300.0 MiB read, 100.0 MiB/s, 2 s left, 1 file found");
  // A scan begun at 2 GiB paces what it read itself.
  EXPECT_EQ(RecoveryProgressLine({(2048 + 30) * kMiB, 32768 * kMiB, 3, 2048 * kMiB}, 3.0),
            "2.0 GiB of 32.0 GiB read, 10.0 MiB/s, 51 min 09 s left, 3 files found");
  EXPECT_EQ(RecoveryProgressLine({kMiB, 64 * 1024 * kMiB, 0}, 1.0),
            "1.0 MiB of 64.0 GiB read, 1.0 MiB/s, 18 h 12 min left, 0 files found");
}

// A clock that moves only when the test says.
struct TestClock {
  std::chrono::steady_clock::time_point now{};
  TerminalProgress::Clock Reader() {
    return [this] { return now; };
  }
};

std::string Written(std::FILE* file) {
  std::fflush(file);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fseek(file, 0, SEEK_END);
  return text;
}

TEST(TerminalProgress, RewritesOneLineAtMostFourTimesASecondAndEndsIt) {
  std::FILE* terminal = std::tmpfile();
  ASSERT_NE(terminal, nullptr);
  TestClock clock;
  TerminalProgress progress(terminal, clock.Reader());
  progress.Show({0, 300 * kMiB, 0});
  EXPECT_EQ(Written(terminal), "\r0.0 MiB of 300.0 MiB read, 0 files found");
  clock.now += 100ms;
  progress.Show({50 * kMiB, 300 * kMiB, 0});  // too soon: not drawn
  EXPECT_EQ(Written(terminal), "\r0.0 MiB of 300.0 MiB read, 0 files found");
  clock.now += 900ms;
  progress.Show({100 * kMiB, 300 * kMiB, 1});
  const std::string second = "\r100.0 MiB of 300.0 MiB read, 100.0 MiB/s, 2 s left, 1 file found";
  EXPECT_EQ(Written(terminal), "\r0.0 MiB of 300.0 MiB read, 0 files found" + second);

  // A log line in between: the line is wiped, and drawn again at once after it.
  std::string before = Written(terminal);
  progress.Clear();
  EXPECT_EQ(Written(terminal), before + "\r" + std::string(second.size() - 1, ' ') + "\r");
  before = Written(terminal);
  clock.now += 100ms;
  progress.Show({110 * kMiB, 300 * kMiB, 1});
  EXPECT_EQ(Written(terminal), before + "\r110.0 MiB of 300.0 MiB read, 100.0 MiB/s, 2 s left, 1 file found");

  // The card's end is always shown, however soon; End ends the line, once.
  before = Written(terminal);
  clock.now += 1ms;
  progress.Show({300 * kMiB, 300 * kMiB, 2});
  progress.End();
  progress.End();
  EXPECT_EQ(Written(terminal), before + "\r300.0 MiB of 300.0 MiB read, 272.5 MiB/s, 0 s left, 2 files found\n");
  std::fclose(terminal);
}

// Runs crwlog with standard error on a pseudo-terminal (or, without one, a
// file) and standard output in a file; returns what standard error showed.
std::string CrwlogStderr(const std::vector<std::string>& arguments, bool onTerminal, const std::string& stdoutPath,
                         int& status) {
  int master = -1;
  int slave = -1;
  if (onTerminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
    return {};
  }
  const std::string stderrPath = stdoutPath + ".stderr";
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = onTerminal ? slave : ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (master >= 0) ::close(master);
    const std::string program = std::string(MENDRAKE_BIN_DIR) + "/crwlog";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  std::string shown;
  if (onTerminal) {
    ::close(slave);
    char buffer[4096];
    // Read until the child's end closes the terminal (EIO on Linux).
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
      if (n > 0) shown.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(master);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (!onTerminal) {
    const Bytes bytes = ReadFile(stderrPath);
    shown.assign(bytes.begin(), bytes.end());
  }
  return shown;
}

TEST(TerminalProgress, CrwlogShowsItOnATerminalOnly) {
  ScratchFolder folder;
  Bytes card;
  AppendJunk(card, JunkKind::kRandom, static_cast<std::size_t>(6 * kMiB), 4);
  CameraFileOptions photo;
  photo.thumbnail = MakeJpeg(16, 16);
  PlaceAt(card, static_cast<std::size_t>(3 * kMiB), MakeCameraFile(photo));
  const std::string image = folder.Write("card.img", card);

  int status = -1;
  const std::string shown =
      CrwlogStderr({"--recover", image, folder / "shown"}, true, folder / "shown.stdout", status);
  EXPECT_EQ(status, 0);
  // The terminal turns the line's end into a carriage return and a line feed.
  // The first line after the first read; the last after the card's end, with the file written.
  EXPECT_TRUE(shown.starts_with("\r2.0 MiB of 6.0 MiB read, ")) << shown;
  ASSERT_TRUE(shown.ends_with("\r\n")) << shown;
  std::string last = shown.substr(0, shown.size() - 2);
  last = last.substr(last.rfind('\r') + 1);
  last.erase(last.find_last_not_of(' ') + 1);  // the spaces over a longer line before
  EXPECT_TRUE(last.starts_with("6.0 MiB of 6.0 MiB read, ")) << last;
  EXPECT_TRUE(last.ends_with(", 0 s left, 1 file found")) << last;
  EXPECT_EQ(shown.find('\n'), shown.size() - 1) << "one line, rewritten in place: " << shown;

  const std::string quiet =
      CrwlogStderr({"--recover", image, folder / "quiet"}, false, folder / "quiet.stdout", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quiet, "");
  const Bytes log = ReadFile(folder / "quiet.stdout");
  EXPECT_TRUE(std::string(log.begin(), log.end()).starts_with("At 3145728: ")) << "the log on standard output";
}

}  // namespace
}  // namespace mendrake::testing
