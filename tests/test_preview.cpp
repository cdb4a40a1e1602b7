#include "output/JpegDecoder.h"
#include "output/JpegExtent.h"
#include "output/Preview.h"
#include "tests/support/RunFixture.h"

#include <cstdlib>
#include <stdexcept>

namespace mendrake::testing {
namespace {

const std::string kFailed = "Unable to preview the JPEG";

std::span<const std::uint8_t> View(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

int Pixel(const RgbBitmap& picture, int x, int y, int channel) {
  return picture.pixels[static_cast<std::size_t>((y * picture.width + x) * 3 + channel)];
}

TEST(DecodeJpeg, GivesTheCompressedPictureAtFullSizeInRgb) {
  RgbBitmap picture;
  ASSERT_TRUE(DecodeJpeg(View(MakeJpeg(80, 52)), picture));
  ASSERT_EQ(picture.width, 80);
  ASSERT_EQ(picture.height, 52);
  ASSERT_EQ(picture.pixels.size(), 80u * 52u * 3u);
  int worst = 0;
  for (int y = 0; y < 52; ++y) {
    for (int x = 0; x < 80; ++x) {
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(Pixel(picture, x, y, c) - TestPixel(x, y, c)));
    }
  }
  EXPECT_LT(worst, 16);  // lossy, but close to what was compressed
}

TEST(DecodeJpeg, FailsOnWhatItCannotDecode) {
  RgbBitmap picture;
  EXPECT_FALSE(DecodeJpeg({}, picture));
  EXPECT_FALSE(DecodeJpeg(View(Filler(600, 0xD8)), picture));
  const Bytes jpeg = MakeJpeg(32, 32);
  EXPECT_FALSE(DecodeJpeg(View(Prefix(jpeg, 40)), picture));  // cut inside the header
  EXPECT_FALSE(DecodeJpeg(View(MakeJpeg(16, 16, true)), picture));  // CMYK has no RGB conversion
  int width = 0;
  int height = 0;
  EXPECT_TRUE(ReadJpegHeader(View(MakeJpeg(16, 16, true)), width, height));
  EXPECT_EQ(width, 16);
}

// A header that claims a picture of 60000 x 60000 pixels, 10 GiB in RGB.
Bytes WithHugeDimensions(Bytes jpeg) {
  for (std::size_t i = 2; i + 8 < jpeg.size(); i += 2 + static_cast<std::size_t>(jpeg[i + 2] << 8 | jpeg[i + 3])) {
    if (jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0xEA, jpeg[i + 6] = 0x60;  // height
      jpeg[i + 7] = 0xEA, jpeg[i + 8] = 0x60;  // width
      return jpeg;
    }
  }
  throw std::runtime_error("no SOF0");
}

TEST(JpegExtent, EndsAtTheEndMarkerThroughStuffedBytesRestartsAndFill) {
  const Bytes jpeg = MakeJpeg(48, 40);
  Bytes followed = jpeg;
  AppendJunk(followed, JunkKind::kRandom, 5000, 4);
  EXPECT_EQ(JpegExtent(View(followed), followed.size()), jpeg.size());
  // Hand-made: a segment, a scan whose data holds a stuffed FF, a restart and
  // fill bytes before the end marker.
  const Bytes made = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x11, 0x22, 0xFF, 0xDA, 0x00, 0x03, 0x01,
                      0x10, 0xFF, 0x00, 0x20, 0xFF, 0xD3, 0x30, 0xFF, 0xFF, 0xD9, 0x77, 0x77};
  EXPECT_EQ(JpegExtent(View(made), made.size()), made.size() - 2);
  EXPECT_EQ(JpegExtent(View(made), 20), 0u);                       // past maxLength: no end within it
  EXPECT_EQ(JpegExtent(View(Prefix(jpeg, jpeg.size() - 1)), jpeg.size()), 0u);  // its end marker cut
  EXPECT_EQ(JpegExtent(View(Filler(64, 0xD8)), 64), 0u);
  Bytes broken = jpeg;
  broken[2 + 2 + (broken[4] << 8 | broken[5])] = 0x00;  // the second segment no marker
  EXPECT_EQ(JpegExtent(View(broken), broken.size()), 0u);
}

TEST(DecodeWholeJpeg, TakesOnlyAPictureThatLiesWholeInItsBytes) {
  const Bytes jpeg = MakeJpeg(64, 48);
  RgbBitmap picture;
  EXPECT_TRUE(DecodeWholeJpeg(View(jpeg), picture));
  EXPECT_EQ(picture.width, 64);
  // Cut in its image data: the tolerant decode fills in the rest, the whole one refuses it.
  const Bytes cut = Prefix(jpeg, ImageDataStart(jpeg) + 40);
  EXPECT_TRUE(DecodeJpeg(View(cut), picture));
  EXPECT_FALSE(DecodeWholeJpeg(View(cut), picture));
  Bytes corrupt = jpeg;
  std::fill(corrupt.begin() + static_cast<std::ptrdiff_t>(ImageDataStart(jpeg)) + 20,
            corrupt.begin() + static_cast<std::ptrdiff_t>(ImageDataStart(jpeg)) + 60, 0xFF);
  EXPECT_FALSE(DecodeWholeJpeg(View(corrupt), picture));
}

TEST(DecodeJpeg, RefusesPicturesLargerThanItsLimitWithoutTryingToAllocate) {
  const Bytes huge = WithHugeDimensions(MakeJpeg(16, 16));
  int width = 0;
  int height = 0;
  ASSERT_TRUE(ReadJpegHeader(View(huge), width, height));
  ASSERT_EQ(width, 60000);
  RgbBitmap picture;
  EXPECT_FALSE(DecodeJpeg(View(huge), picture));
  EXPECT_TRUE(picture.pixels.empty());
}

class Preview : public RunFixture {
 protected:
  // A CRW file whose thumbnail record is the last data of the root heap, so
  // that the root directory follows the thumbnail bytes, as in camera files;
  // or followed by a record holding the given bytes.
  void AnalyseWithThumbnail(const Bytes& thumbnail, const Bytes& following = {}) {
    HeapBuilder names;
    names.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D30"));
    HeapBuilder sensor;
    sensor.Record(0x1031, SensorInfoRecord(2160, 1440, false)).Record(0x1835, Filler(32, 1));
    CrwFile file;
    file.root.Record(0x2005, Filler(2000, 0x5A)).SubHeap(0x300A, names).SubHeap(0x300B, sensor).Record(0x2007, thumbnail);
    if (!following.empty()) file.root.Record(0x2008, following);
    bytes = file.Build();
    WriteFile(folder / "t.crw", bytes);
    ASSERT_TRUE(RepairFile(context, image, folder / "t.crw"));
    ASSERT_TRUE(state.FoundJPEG);
    log.Clear();
  }

  Bytes bytes;
  FileImage image;
};

TEST_F(Preview, ValidThumbnailIsShownWithoutALogLine) {
  AnalyseWithThumbnail(MakeJpeg(96, 64));
  ShowPreview(context, image);
  ASSERT_EQ(platform.pictures.size(), 1u);
  EXPECT_EQ(platform.pictures[0].width, 96);
  EXPECT_EQ(platform.pictures[0].height, 64);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(Preview, ThumbnailCutInsideItsImageDataIsShownAsFarAsItGoes) {
  const Bytes whole = MakeJpeg(96, 64);
  const std::size_t dataStart = ImageDataStart(whole);
  AnalyseWithThumbnail(Prefix(whole, dataStart + (whole.size() - dataStart) / 2));
  ShowPreview(context, image);
  EXPECT_TRUE(log.Lines().empty());
  ASSERT_EQ(platform.pictures.size(), 1u);
  RgbBitmap complete;
  ASSERT_TRUE(DecodeJpeg(View(whole), complete));
  const RgbBitmap& cut = platform.pictures[0];
  ASSERT_EQ(cut.pixels.size(), complete.pixels.size());
  // The first block rows come from data that is there: they match the complete picture.
  const auto firstRows = static_cast<std::ptrdiff_t>(96 * 16 * 3);
  EXPECT_TRUE(std::equal(cut.pixels.begin(), cut.pixels.begin() + firstRows, complete.pixels.begin()));
  EXPECT_NE(cut.pixels, complete.pixels);
}

TEST_F(Preview, ThumbnailCutAndFollowedByAMarkerOutOfPlaceFailsOnceAndShowsNothing) {
  const Bytes whole = MakeJpeg(96, 64);
  const Bytes cut = Prefix(whole, ImageDataStart(whole) + (whole.size() - ImageDataStart(whole)) / 2);
  // Sensor-like bytes after it: 0xFF 0x7F reads as a marker that has no place after the last scan.
  const Bytes following = {0x34, 0x12, 0xFF, 0x7F, 0x20, 0x00};
  AnalyseWithThumbnail(cut, following);
  ShowPreview(context, image);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{kFailed});
  EXPECT_TRUE(platform.pictures.empty());

  // The search for the end-of-image marker is bounded: past the bound the data
  // is taken to end, and the picture is shown as when the image ends there.
  Bytes farAway(kMaxJpegBytesAfterRows + 4096, 0);
  farAway.insert(farAway.end(), following.begin(), following.end());
  AnalyseWithThumbnail(cut, farAway);
  ShowPreview(context, image);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(platform.pictures.size(), 1u);
}

TEST_F(Preview, BytesThatAreNoJpegGiveTheLineTwice) {
  AnalyseWithThumbnail(Filler(700, 0x42));
  ShowPreview(context, image);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kFailed, kFailed}));
  EXPECT_TRUE(platform.pictures.empty());
}

TEST_F(Preview, ThumbnailCutInsideItsHeaderGivesTheLineTwice) {
  AnalyseWithThumbnail(Prefix(MakeJpeg(96, 64), 100));
  ShowPreview(context, image);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kFailed, kFailed}));
}

TEST_F(Preview, ReadableHeaderThatFailsToDecodeGivesTheLineOnce) {
  AnalyseWithThumbnail(MakeJpeg(40, 40, true));
  ShowPreview(context, image);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{kFailed});
  EXPECT_TRUE(platform.pictures.empty());
}

TEST_F(Preview, ThumbnailStartPastTheImageGivesTheLineTwice) {
  AnalyseWithThumbnail(MakeJpeg(16, 16));
  for (const std::uint32_t start : {static_cast<std::uint32_t>(bytes.size()), 0xFFFFFFF0u}) {
    log.Clear();
    state.JPEGStart = start;
    ShowPreview(context, image);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kFailed, kFailed}));
  }
}

class FailingDisplay : public ScriptedPlatform {
 public:
  void ShowPicture(const RgbBitmap&) override { throw std::runtime_error("no display"); }
};

TEST_F(Preview, FailureOfTheDisplayGivesTheLineOnceAndChangesNothingElse) {
  AnalyseWithThumbnail(MakeJpeg(16, 16));
  const AnalysisState before = state;
  FailingDisplay display;
  RepairContext failing{state, log, display};
  ShowPreview(failing, image);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{kFailed});
  EXPECT_EQ(state.FFilesize, before.FFilesize);
  EXPECT_EQ(state.CurrentFilename, before.CurrentFilename);
}

}  // namespace
}  // namespace mendrake::testing
