// The test files are only as good as the builder: peers that read CRW files
// must read its camera files as the values they were built with.
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace mendrake::testing {
namespace {

bool Installed(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string OutputOf(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return {};
  std::string text;
  std::array<char, 4096> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;) text.append(buffer.data(), n);
  return text;
}

class BuilderAgainstPeers : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(ByteOrders, BuilderAgainstPeers, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

CameraFileOptions Unusual(bool bigEndian) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.model = "Canon PowerShot Pro1";
  options.whiteBalance = 2;
  options.width = 2000;
  options.height = 1000;
  options.rawDataSize = 1000;
  // Starts and ends like JPEG data, which exiftool checks before it shows a thumbnail.
  options.thumbnail = Filler(300, 0x00);
  PlaceAt(options.thumbnail, 0, Bytes{0xFF, 0xD8, 0xFF, 0xE0});
  PlaceAt(options.thumbnail, 298, Bytes{0xFF, 0xD9});
  return options;
}

TEST_P(BuilderAgainstPeers, ExiftoolReadsTheCameraFileAsBuilt) {
  if (!Installed("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  ScratchFolder dir;
  const std::string path = dir.Write("built.crw", MakeCameraFile(Unusual(GetParam())));
  // Values as built, both records at their sizes, and no error or warning (-validate with -n counts them).
  EXPECT_EQ(OutputOf("exiftool -s3 -n -Make -Model -WhiteBalance -SensorWidth -SensorHeight -RawData -JpgFromRaw "
                     "-validate -warning '" + path + "'"),
            "Canon\nCanon PowerShot Pro1\n2\n2000\n1000\n"
            "(Binary data 1000 bytes, use -b option to extract)\n(Binary data 300 bytes, use -b option to extract)\n"
            "0 0 0\n");
}

TEST_P(BuilderAgainstPeers, DcrawIdentifiesTheCamera) {
  if (!Installed("dcraw")) GTEST_SKIP() << "dcraw is not installed";
  ScratchFolder dir;
  CameraFileOptions options;
  options.bigEndian = GetParam();
  const std::string path = dir.Write("built.crw", MakeCameraFile(options));
  EXPECT_EQ(OutputOf("dcraw -i '" + path + "'"), path + " is a Canon EOS D60 image.\n");
}

// ---------------------------------------------------------------- builder basics

TEST(Builder, AHeapKeepsItsDataFirstThenItsDirectoryThenThePointerToIt) {
  HeapBuilder heap;
  heap.Record(0x2005, Bytes{1, 2, 3}).Inline(0x5000, 0x11223344, 0x55667788);
  EXPECT_EQ(heap.Build(true), (Bytes{1, 2, 3,                                          // record data
                                     0x00, 0x02,                                       // two entries
                                     0x20, 0x05, 0, 0, 0, 3, 0, 0, 0, 0,               // tag, size, offset
                                     0x50, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                     0, 0, 0, 3}));                                    // directory at 3
}

TEST(Builder, JunkOfEachKind) {
  const Bytes start{'I', 'I', 1, 2, 3};
  Bytes zeros = start;
  AppendJunk(zeros, JunkKind::kZeros, 3);
  EXPECT_EQ(zeros, (Bytes{'I', 'I', 1, 2, 3, 0, 0, 0}));
  Bytes ones = start;
  AppendJunk(ones, JunkKind::kOnes, 2);
  EXPECT_EQ(ones, (Bytes{'I', 'I', 1, 2, 3, 0xFF, 0xFF}));
  Bytes copy = start;
  AppendJunk(copy, JunkKind::kCopyOfStart, 12);
  EXPECT_EQ(copy, (Bytes{'I', 'I', 1, 2, 3, 'I', 'I', 1, 2, 3, 'I', 'I', 1, 2, 3, 'I', 'I'}));
  Bytes random = start;
  AppendJunk(random, JunkKind::kRandom, 1000, 5);
  Bytes again = start;
  AppendJunk(again, JunkKind::kRandom, 1000, 5);
  EXPECT_EQ(random, again);
  EXPECT_EQ(random.size(), 1005u);
}

}  // namespace
}  // namespace mendrake::testing
