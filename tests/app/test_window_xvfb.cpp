// The program itself in a real X server: the window appears and Alt+X closes it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool OnPath(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(ProgramInXServer, WindowAppearsAndAltXClosesIt) {
  if (!OnPath("xvfb-run") || !OnPath("xdotool")) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  const std::string program = MENDRAKE_BIN_DIR "/mendrake";
  ASSERT_TRUE(std::filesystem::exists(program));

  // Inside the X server: start the program, wait for its window by caption,
  // focus it (Xvfb has no window manager to do that) and press Alt+X; the
  // program must then end by itself with status 0.
  // A fresh X server can refuse a first connection while it settles, so the
  // program gets a few starts to show its window.
  const std::string script =
      "unset QT_QPA_PLATFORM WAYLAND_DISPLAY; win=; "
      "for attempt in 1 2 3; do "
      "  '" + program + "' 2>\"$TMPDIR_XVFB/err\" & app=$!; "
      "  for i in $(seq 200); do "
      "    win=$(xdotool search --onlyvisible --name "
      "'^Mendrake \\(Repair, View and Extract\\) v1\\.2$' 2>/dev/null | head -n1); "
      "    [ -n \"$win\" ] && break; kill -0 $app 2>/dev/null || break; sleep 0.05; "
      "  done; "
      "  [ -n \"$win\" ] && break; "
      "  echo \"start $attempt showed no window:\"; cat \"$TMPDIR_XVFB/err\"; kill $app 2>/dev/null; wait $app; "
      "done; "
      "[ -n \"$win\" ] || exit 3; "
      "[ \"$(xdotool getwindowname $win)\" = 'Mendrake (Repair, View and Extract) v1.2' ] || exit 4; "
      "xdotool windowfocus --sync $win && xdotool key --clearmodifiers alt+x; "
      "for i in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done; "
      "if kill -0 $app 2>/dev/null; then echo 'still running after Alt+X'; kill $app; exit 5; fi; "
      "wait $app";
  const std::string scratch = ::testing::TempDir();
  ::setenv("TMPDIR_XVFB", scratch.c_str(), 1);
  // Error reports of earlier crashes on this machine would open their dialog over the window.
  ::setenv("XDG_STATE_HOME", scratch.c_str(), 1);
  // The display number is searched from a random start: X servers of other
  // sessions on the machine may hold the first numbers.
  const std::string command =
      "xvfb-run -a -n $((200 + $$ % 600)) -s '-screen 0 1024x768x24' bash -c \"$MENDRAKE_XVFB_SCRIPT\" 2>&1";
  ::setenv("MENDRAKE_XVFB_SCRIPT", script.c_str(), 1);
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
}

}  // namespace
