// Golden logs of the headless driver: the exact output for files built here.
// The builder's thumbnails (and the sample's) are not JPEG data, so a run whose
// last file was repaired ends with the preview's two failure lines.
#include "tests/support/Sample.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace mendrake::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string TextOf(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Runs crwlog with arguments from a working folder; output is kept in scratch.
Outcome Crwlog(const std::vector<std::string>& arguments, const std::string& workingDir, const ScratchFolder& scratch) {
  std::string command = "cd " + Quoted(workingDir) + " && " + Quoted(std::string(MENDRAKE_BIN_DIR) + "/crwlog");
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  command += " >" + Quoted(scratch / "stdout.txt") + " 2>" + Quoted(scratch / "stderr.txt");
  const int raw = std::system(command.c_str());
  Outcome outcome;
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  outcome.out = TextOf(scratch / "stdout.txt");
  outcome.err = TextOf(scratch / "stderr.txt");
  return outcome;
}

std::string WithFile(std::string text, const std::string& path) {
  for (std::size_t at = text.find("{file}"); at != std::string::npos; at = text.find("{file}", at + path.size())) {
    text.replace(at, 6, path);
  }
  return text;
}

Bytes Camera(bool bigEndian) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  return MakeCameraFile(options);
}

class CrwlogGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    // The expected logs below name sizes of the builder's camera file.
    ASSERT_EQ(Camera(false).size(), 4918u) << "the builder's camera file changed: update the sizes below";
    // Files live in a folder of their own, reached through its real path.
    photos = std::filesystem::canonical(dir.path()).string() + "/photos";
    std::filesystem::create_directory(photos);
  }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = photos + "/" + name;
    WriteFile(path, bytes);
    return path;
  }

  ScratchFolder dir;  // holds the photos folder and what crwlog printed
  std::string photos;
};

TEST_F(CrwlogGolden, IntactLittleEndianFile) {
  const std::string path = Write("IMG_0001.CRW", Camera(false));
  const Outcome run = Crwlog({path}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, WithFile(R"(Repairing file {file}
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 4918
Old filesize was:  4918
Successfully repaired file.
Unable to preview the JPEG
Unable to preview the JPEG
)",
                              path));
}

TEST_F(CrwlogGolden, BigEndianFileWithZerosAfterItsEnd) {
  Bytes file = Camera(true);
  AppendJunk(file, JunkKind::kZeros, 1000);
  const std::string path = Write("IMG_0002.CRW", file);
  const Outcome run = Crwlog({path}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, WithFile(R"(Repairing file {file}
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 4918
Old filesize was:  5918
Successfully repaired file.
Unable to preview the JPEG
Unable to preview the JPEG
)",
                              path));
}

TEST_F(CrwlogGolden, FilesWithRandomBytesOrACopyOfTheirStartAfterTheirEnd) {
  Bytes random = Camera(false);
  AppendJunk(random, JunkKind::kRandom, 2500, 3);
  Bytes copy = Camera(true);
  AppendJunk(copy, JunkKind::kCopyOfStart, 1000);
  const std::string first = Write("random.crw", random);
  const std::string second = Write("copy.crw", copy);
  const Outcome run = Crwlog({first, second}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, WithFile(R"(Repairing file {file}/random.crw
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 4918
Old filesize was:  7418
Successfully repaired file.
Repairing file {file}/copy.crw
CCD data found
JPEG thumbnail found
White Balance: Daylight
Height: 2048
Width: 3072
Make: Canon
Model: Canon EOS D60
Found filesize as: 4918
Old filesize was:  5918
Successfully repaired file.
Unable to preview the JPEG
Unable to preview the JPEG
)",
                              photos));
}

TEST_F(CrwlogGolden, SeveralFilesIncludingOnesThatAreNotCrwOrCutShort) {
  Bytes notCrw = Camera(false);
  notCrw[7] = 'X';
  Bytes cut = Camera(true);
  cut.resize(3000);
  Bytes noTable;
  {
    CameraFileOptions options;
    options.hasDecoderTable = false;
    options.whiteBalance = 3;
    options.make = "Caf\xE9";
    options.model = "\x80 100";
    noTable = MakeCameraFile(options);
  }
  const Outcome run = Crwlog({Write("a.crw", notCrw), Write("b.crw", cut), Write("c.crw", noTable)}, photos, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, WithFile(R"(Repairing file {file}/a.crw
The file is not a valid CRW file.
Repairing file {file}/b.crw
Found filesize as: 27
Old filesize was:  3000
Repairing file {file}/c.crw
CCD data found
JPEG thumbnail found
Height: 2048
Width: 3072
Make: Café
Model: € 100
Found filesize as: 27
Old filesize was:  4835
)",
                              photos));
}

TEST_F(CrwlogGolden, TheRealSampleFile) {
  MENDRAKE_REQUIRE_SAMPLE(path);
  const Outcome run = Crwlog({path}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, WithFile(R"(Repairing file {file}
CCD data found
JPEG thumbnail found
Make: Canon
Model: Canon EOS DIGITAL REBEL
White Balance: Auto
Height: 2068
Width: 3152
Found filesize as: 6816
Old filesize was:  6816
Successfully repaired file.
Unable to preview the JPEG
Unable to preview the JPEG
)",
                              path));
}

// ---------------------------------------------------------------- paths and errors

TEST_F(CrwlogGolden, RelativeArgumentsAreMadeAbsoluteFromTheWorkingFolder) {
  Write("IMG_0001.CRW", Camera(false));
  std::filesystem::create_directory(photos + "/day1");
  Write("day1/IMG_0002.CRW", Camera(true));
  const Outcome run = Crwlog({"IMG_0001.CRW", "day1/IMG_0002.CRW"}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Repairing file " + photos + "/IMG_0001.CRW");
  EXPECT_NE(run.out.find("\nRepairing file " + photos + "/day1/IMG_0002.CRW\n"), std::string::npos) << run.out;
}

TEST_F(CrwlogGolden, ALinkIsReportedUnderItsOwnName) {
  const std::string target = Write("IMG_0001.CRW", Camera(false));
  std::filesystem::create_symlink(target, photos + "/link.crw");
  const Outcome run = Crwlog({"link.crw"}, photos, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Repairing file " + photos + "/link.crw");
}

TEST_F(CrwlogGolden, AMissingFileEndsTheRunWithStatus2AndAMessageNamingItAndTheFilesLeft) {
  const std::string first = Write("IMG_0001.CRW", Camera(false));
  const std::string after = Write("IMG_0003.CRW", Camera(false));
  const Outcome run = Crwlog({first, "IMG_0002.CRW", after}, photos, dir);
  EXPECT_EQ(run.status, 2);
  const std::string missing = photos + "/IMG_0002.CRW";
  EXPECT_EQ(run.err, "crwlog: \"" + missing + "\": cannot open the file: No such file or directory\n"
                     "The run stopped at file 2 of 3; this file was not processed:\n  " + after + "\n");
  // The first file's log is complete, and nothing of the missing one or later.
  EXPECT_EQ(run.out.substr(run.out.size() - 28), "Successfully repaired file.\n");
  EXPECT_EQ(run.out.find("IMG_0002"), std::string::npos);
  EXPECT_EQ(run.out.find("IMG_0003"), std::string::npos);
}

TEST_F(CrwlogGolden, AFolderEndsTheRunWithStatus2AndAMessageNamingIt) {
  const Outcome run = Crwlog({photos}, photos, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("crwlog: \"" + photos + "\": ", 0), 0u) << run.err;
}

TEST_F(CrwlogGolden, NoArgumentsShowsHowToUseIt) {
  const Outcome run = Crwlog({}, photos, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("usage: crwlog"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace mendrake::testing
