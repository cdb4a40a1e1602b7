// crwlog as a user runs it, and its outputs as the peer readers see them.
#include "tests/support/RunFixture.h"

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool Installed(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

class CrwlogTool : public RunFixture {
 protected:
  // Runs a shell command with its output in files of the scratch folder; returns its exit code.
  int Run(const std::string& command) {
    const int status = std::system((command + " >" + Quoted(folder / "stdout") + " 2>" + Quoted(folder / "stderr")).c_str());
    const Bytes out = ReadFile(folder / "stdout");
    const Bytes err = ReadFile(folder / "stderr");
    stdoutText.assign(out.begin(), out.end());
    stderrText.assign(err.begin(), err.end());
    fs::remove(folder / "stdout");
    fs::remove(folder / "stderr");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int Crwlog(const std::string& arguments) { return Run(Quoted(crwlog) + " " + arguments); }

  const std::string crwlog = std::string(MENDRAKE_BIN_DIR) + "/crwlog";
  std::string stdoutText;
  std::string stderrText;
};

TEST_F(CrwlogTool, SeveralFilesGetOutputsEqualToTheSourceBytes) {
  const Source first = WriteCameraFile("IMG_0001.CRW", 5000, 64);
  const Source second = WriteCameraFile("IMG_0002.CRW", 0, 48);
  ASSERT_EQ(Crwlog(Quoted(first.path) + " " + Quoted(second.path)), 0) << stderrText;
  EXPECT_NE(stdoutText.find("Found filesize as: " + std::to_string(first.trueSize) + "\n"), std::string::npos);
  EXPECT_EQ(ReadFile(folder / "IMG_0001.CRW_repaired.CRW"), Prefix(first.bytes, first.trueSize));
  EXPECT_EQ(ReadFile(folder / "IMG_0001.jpg"), first.thumbnail);
  EXPECT_EQ(ReadFile(folder / "IMG_0002.CRW_repaired.CRW"), second.bytes);
  EXPECT_EQ(ReadFile(folder / "IMG_0002.jpg"), second.thumbnail);
}

TEST_F(CrwlogTool, ExitStatusSaysWhatHappened) {
  const std::string good = WriteCameraFile("good.crw").path;
  const std::string alsoGood = WriteCameraFile("also.crw", 0).path;
  const std::string notCrw = folder.Write("notes.txt", Bytes(300, 'n'));
  const std::string noSize = folder.Write("cut.crw", Prefix(WriteCameraFile("whole.crw").bytes, 3000));
  const std::string named = folder.Write("--help", ReadFile(good));
  fs::create_symlink(good, folder / "link.crw");
  const Bytes goodBytes = ReadFile(good);
  struct Case {
    std::string arguments;
    int status;
    std::string inStdout;  // text the output holds
    std::string inStderr;
    long stderrLines;
  };
  const std::vector<Case> cases = {
      {Quoted(good), 0, "Successfully repaired file.", "", 0},
      {Quoted(good) + " " + Quoted(alsoGood), 0, "", "", 0},
      {Quoted(good) + " " + Quoted(notCrw), 1, "The file is not a valid CRW file.", "", 0},
      {Quoted(noSize), 1, "Old filesize was:  3000", "", 0},
      {Quoted(good) + " " + Quoted(folder / "missing.crw") + " " + Quoted(alsoGood), 2, "",
       "\"" + folder / "missing.crw" + "\": cannot open the file", 3},
      {"", 2, "", "usage: crwlog", 1},
      {"--help", 0, "Exit status:\n  0  every file", "", 0},
      {"-h " + Quoted(good), 0, "Usage: crwlog", "", 0},
      {"--version", 0, "crwlog (Mendrake) ", "", 0},
      {"-- " + Quoted(named), 0, "Repairing file " + named + "\n", "", 0},
      {"--bogus " + Quoted(good), 2, "", "unknown option \"--bogus\"", 1},
      {"--preview-ppm", 2, "", "--preview-ppm needs FILE", 1},
      {"--list-cards " + Quoted(good), 2, "", "--list-cards takes no CRW file", 1},
      {"--all-drives " + Quoted(good), 2, "", "--all-drives goes with --list-cards", 1},
      {"--preview-ppm " + Quoted(good) + " " + Quoted(good), 2, "", "nothing was written", 1},
      {"--preview-ppm " + Quoted(folder / "link.crw") + " " + Quoted(good), 2, "", "nothing was written", 1},
      {"--preview-ppm " + Quoted(folder.path().string() + "/./good.crw") + " " + Quoted(good), 2, "", "nothing was written", 1},
      {"--preview-ppm " + Quoted(folder / "p.ppm") + " " + Quoted(WriteCameraFile("nothumb.crw", 100, 0).path), 2, "",
       "no preview was shown; \"" + folder / "p.ppm" + "\" was not written", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Crwlog(c.arguments), c.status) << c.arguments << "\n" << stderrText;
    EXPECT_NE(stdoutText.find(c.inStdout), std::string::npos) << c.arguments << "\n" << stdoutText;
    EXPECT_NE(stderrText.find(c.inStderr), std::string::npos) << c.arguments << "\n" << stderrText;
    EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), c.stderrLines) << c.arguments << "\n" << stderrText;
  }
  EXPECT_EQ(ReadFile(good), goodBytes);  // never written over by a preview
  EXPECT_FALSE(fs::exists(folder / "p.ppm"));
}

TEST_F(CrwlogTool, PreviewPpmIsWhatDjpegDecodes) {
  if (!Installed("djpeg")) GTEST_SKIP() << "djpeg is not installed";
  CameraFileOptions options;
  options.thumbnail = MakeJpeg(200, 136, false, 80);
  Bytes file = MakeCameraFile(options);
  AppendJunk(file, JunkKind::kRandom, 700);
  WriteFile(folder / "a.crw", file);
  WriteFile(folder / "thumb.jpg", options.thumbnail);

  ASSERT_EQ(Crwlog("--preview-ppm " + Quoted(folder / "preview.ppm") + " " + Quoted(folder / "a.crw")), 0) << stderrText;
  ASSERT_EQ(Run("djpeg -ppm -outfile " + Quoted(folder / "djpeg.ppm") + " " + Quoted(folder / "thumb.jpg")), 0);
  const Bytes ours = ReadFile(folder / "preview.ppm");
  EXPECT_EQ(std::string(ours.begin(), ours.begin() + 15), "P6\n200 136\n255\n");
  EXPECT_EQ(ours, ReadFile(folder / "djpeg.ppm"));
}

TEST_F(CrwlogTool, RepairedCopyOpensInExiftoolAndDcrawWhereTheSourceDidNot) {
  if (!Installed("exiftool") || !Installed("dcraw")) GTEST_SKIP() << "exiftool or dcraw is not installed";
  const Source source = WriteCameraFile("IMG_0815.CRW", 4000, 160);
  const Source other = WriteCameraFile("IMG_0816.CRW", 100, 32);
  ASSERT_EQ(Crwlog(Quoted(source.path) + " " + Quoted(other.path)), 0) << stderrText;
  const std::string repaired = folder / "IMG_0815.CRW_repaired.CRW";

  // The junk hides the root directory from the peers...
  Run("exiftool -b -JpgFromRaw " + Quoted(source.path));
  EXPECT_TRUE(stdoutText.empty());
  EXPECT_NE(Run("dcraw -i " + Quoted(source.path)), 0);

  // ...and the repaired copy shows it again.
  ASSERT_EQ(Run("exiftool -s3 -Make -Model " + Quoted(repaired)), 0);
  EXPECT_EQ(stdoutText, "Canon\nCanon EOS D60\n");
  ASSERT_EQ(Run("exiftool -b -JpgFromRaw " + Quoted(repaired)), 0);
  EXPECT_EQ(Bytes(stdoutText.begin(), stdoutText.end()), ReadFile(folder / "IMG_0815.jpg"));
  EXPECT_EQ(ReadFile(folder / "IMG_0815.jpg"), source.thumbnail);

  ASSERT_EQ(Run("dcraw -i -v " + Quoted(repaired)), 0) << stderrText;
  EXPECT_NE(stdoutText.find("Camera: Canon EOS D60"), std::string::npos) << stdoutText;
  EXPECT_NE(stdoutText.find("Thumb size:   160 x 48"), std::string::npos) << stdoutText;
  ASSERT_EQ(Run("dcraw -c -e " + Quoted(repaired)), 0) << stderrText;
  ASSERT_GE(stdoutText.size(), 2u);
  EXPECT_EQ(stdoutText.substr(0, 2), "\xFF\xD8");
}

}  // namespace
}  // namespace mendrake::testing
