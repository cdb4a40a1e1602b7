// The test files are only as good as the builder: peers that read CRW files
// must read its camera files as the values they were built with.
#include "tests/support/CrwBuilder.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SyntheticPhoto.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
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

namespace mendrake::testing {
namespace {

// A 16-bit binary PGM as dcraw writes it.
struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint16_t> values;
};

[[maybe_unused]] Picture ReadPgm(const std::string& bytes) {
  Picture picture;
  std::istringstream in(bytes);
  std::string magic;
  int top = 0;
  in >> magic >> picture.width >> picture.height >> top;
  in.get();
  if (magic != "P5" || top != 65535) return {};
  const std::size_t count = std::size_t{picture.width} * picture.height;
  const auto at = static_cast<std::size_t>(in.tellg());
  if (bytes.size() < at + 2 * count) return {};
  for (std::size_t i = 0; i < count; ++i) {
    const auto high = static_cast<std::uint8_t>(bytes[at + 2 * i]);
    const auto low = static_cast<std::uint8_t>(bytes[at + 2 * i + 1]);
    picture.values.push_back(static_cast<std::uint16_t>(high << 8 | low));
  }
  return picture;
}

// Values of the photo that differ from the peer's, the peer's picture being
// the sensor's from (left, top) on. The values past the last stripe's last
// whole block are not coded: the peer shows them as 0.
[[maybe_unused]] std::size_t Mismatches(const Picture& picture, const SensorImage& image, std::uint32_t left, std::uint32_t top) {
  const std::size_t coded = image.values.size() - (image.height % 8) * image.width % 64;
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const bool isCoded = std::size_t{y + top} * image.width + x + left < coded;
      wrong += picture.values[std::size_t{y} * picture.width + x] != (isCoded ? image.At(x + left, y + top) : 0);
    }
  }
  return wrong;
}

struct PhotoCase {
  std::uint32_t width, height;
  bool lowBits;
  std::uint32_t table;
};

// crwmake's photo files decode in dcraw (document mode: the sensor's values
// as stored) to exactly the values the encoder compressed: with and without
// low bits, with each table set, in both byte orders; on small sensors whole
// (files of 16 KiB at least: the peer tests that much for low bits), with a
// last stripe that ends in a part of a block, and on an EOS 300D's sensor
// inside the margins the peer knows for it.
TEST_P(BuilderAgainstPeers, DcrawDecodesThePhotoFilesToTheValuesEncoded) {
#ifndef MENDRAKE_BIN_DIR
  GTEST_SKIP() << "crwmake is not at hand in this build";
#else
  if (!Installed("dcraw")) GTEST_SKIP() << "dcraw is not installed";
  ScratchFolder dir;
  const PhotoCase cases[] = {{512, 160, true, 0}, {520, 240, false, 1}, {384, 100, true, 2}, {1032, 36, false, 0},
                             {3152, 2068, true, GetParam() ? 1u : 0u}};
  std::uint32_t seed = 5;
  for (const PhotoCase& photo : cases) {
    const std::string path = dir / ("photo" + std::to_string(seed) + ".crw");
    const std::string make = std::string(MENDRAKE_BIN_DIR) + "/crwmake --photo --sensor " + std::to_string(photo.width) +
                             "x" + std::to_string(photo.height) + " --table " + std::to_string(photo.table) +
                             " --photo-seed " + std::to_string(seed) + (photo.lowBits ? "" : " --no-low-bits") +
                             (GetParam() ? " --big-endian" : "") + " '" + path + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const Picture picture = ReadPgm(OutputOf("dcraw -D -4 -c '" + path + "'"));
    const SensorImage image = SyntheticPhoto(photo.width, photo.height, photo.lowBits ? 12 : 10, seed);
    ASSERT_GT(picture.width, photo.width * 9 / 10) << make;
    ASSERT_GT(picture.height, photo.height * 9 / 10) << make;
    ASSERT_LE(picture.width, photo.width);
    ASSERT_LE(picture.height, photo.height);
    // The peer shows a camera's sensor without its left and top margins.
    EXPECT_EQ(Mismatches(picture, image, photo.width - picture.width, photo.height - picture.height), 0u) << make;
    ++seed;
  }
#endif
}

}  // namespace
}  // namespace mendrake::testing
