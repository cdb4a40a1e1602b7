// The raw data decoded: files with a synthetic photo compressed as cameras do
// decode plausibly, whole or fed a cluster at a time from saved states; bytes
// of another file in the compressed stream break the decode within a few
// blocks; what lies before the stream carries no signal and says so; records
// this decoder does not know are Unknown, never Broken.
#include "recovery/CanonRawDecoder.h"
#include "recovery/RawDataCheck.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PhotoFile.h"
#include "tests/support/RawEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <random>

namespace mendrake::testing {
namespace {

PhotoFile SmallPhoto(std::uint32_t seed, bool lowBits = true, std::uint32_t tableSet = 0,
                     std::uint32_t width = 512, std::uint32_t height = 160) {
  PhotoFileOptions options;
  options.width = width;
  options.height = height;
  options.lowBits = lowBits;
  options.tableSet = tableSet;
  options.seed = seed;
  options.thumbnailWidth = 32;
  options.thumbnailHeight = 24;
  return MakePhotoFile(options);
}

CanonRawLayout LayoutOf(const Bytes& file) {
  std::string whyNot;
  const std::optional<CanonRawLayout> layout = ReadCanonRawLayout(file, whyNot);
  EXPECT_TRUE(layout) << whyNot;
  return layout.value_or(CanonRawLayout{});
}

TEST(RawData, EveryTableSetWithAndWithoutLowBitsDecodesPlausibly) {
  for (std::uint32_t table = 0; table < 3; ++table) {
    for (const bool lowBits : {true, false}) {
      for (const bool bigEndian : {false, true}) {
        PhotoFileOptions options;
        options.width = 272;  // the last stripe of 36 rows: four rows, 17 blocks
        options.height = 36;
        options.lowBits = lowBits;
        options.tableSet = table;
        options.bigEndian = bigEndian;
        options.seed = table + 7;
        const PhotoFile photo = MakePhotoFile(options);
        const RawDataCheck check = CheckRawData(photo.bytes);
        EXPECT_EQ(check.verdict, RawDataVerdict::Plausible) << check.reason << " table " << table;
        EXPECT_EQ(check.signalFrom, static_cast<std::int64_t>(photo.streamStart));
        EXPECT_EQ(LayoutOf(photo.bytes).lowBits, lowBits);
      }
    }
  }
}

// Where a clean decode of file stands after offset bytes.
CanonRawDecoder DecodedUpTo(const Bytes& file, std::size_t offset) {
  CanonRawDecoder decoder(LayoutOf(file));
  decoder.Feed(std::span(file).first(offset));
  return decoder;
}

// A stretch of foreign bytes put over the stream at a cluster start: how many
// values past the start of the block that holds the splice the decode breaks.
struct SpliceDistances {
  int splices = 0;
  int missed = 0;
  std::vector<std::int64_t> values;
  std::int64_t Worst() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
  std::int64_t Median() const {
    std::vector<std::int64_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
};

SpliceDistances Splices(const PhotoFile& photo, std::size_t cluster, std::size_t step,
                        const std::function<Bytes(std::size_t at)>& foreign) {
  SpliceDistances distances;
  const CanonRawLayout layout = LayoutOf(photo.bytes);
  CanonRawDecoder clean(layout);
  std::size_t fed = 0;
  for (std::size_t at = (photo.streamStart / cluster + 1) * cluster; at + cluster < photo.rawDataEnd; at += step) {
    clean.Feed(std::span(photo.bytes).subspan(fed, at - fed));
    fed = at;
    CanonRawDecoder spliced = clean;  // the decode so far, as a join would hold it
    const Bytes stranger = foreign(at);
    spliced.Feed(stranger);
    spliced.Feed(std::span(photo.bytes).subspan(at + stranger.size(), photo.rawDataEnd - at - stranger.size()));
    ++distances.splices;
    if (!spliced.Broken()) {
      ++distances.missed;
      continue;
    }
    // The splice lies in the block being decoded when the cluster began.
    const std::int64_t blockStart = clean.ValuesDecoded() / 64 * 64;
    distances.values.push_back(spliced.ValuesDecoded() - blockStart);
  }
  return distances;
}

// Another photo's stream, a JPEG's entropy-coded data or noise over one
// cluster of a 6-megapixel photo's stream, at clusters all through it: every
// splice breaks the decode. JPEG data and noise break it within five blocks
// of the block that holds the splice; another photo's stream, whose codes are
// as valid as the photo's own, within a row.
TEST(RawData, ForeignClusterInTheStreamBreaksTheDecodeNearIt) {
  const PhotoFile photo = SmallPhoto(1, true, 0, 3152, 2068);
  const PhotoFile other = SmallPhoto(2, true, 0, 3152, 2068);
  const Bytes jpeg = MakeJpeg(1600, 1200);
  for (const std::size_t cluster : {2048u, 32768u}) {
    const SpliceDistances raw = Splices(photo, cluster, 200003, [&](std::size_t at) {
      return Bytes(other.bytes.begin() + static_cast<std::ptrdiff_t>(at + 3 * cluster),
                   other.bytes.begin() + static_cast<std::ptrdiff_t>(at + 4 * cluster));
    });
    const SpliceDistances picture = Splices(photo, cluster, 200003, [&](std::size_t at) {
      const std::size_t from = ImageDataStart(jpeg) + at % 50000;
      return Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(from), jpeg.begin() + static_cast<std::ptrdiff_t>(from + cluster));
    });
    const SpliceDistances noise = Splices(photo, cluster, 200003, [&](std::size_t at) {
      std::mt19937 random(static_cast<std::uint32_t>(at));
      Bytes bytes(cluster);
      for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
      return bytes;
    });
    for (const auto& [name, d] : {std::pair{"raw", &raw}, std::pair{"jpeg", &picture}, std::pair{"random", &noise}}) {
      std::printf("cluster %zu, %s: %d splices, median %lld, worst %lld values past the splice's block\n", cluster,
                  name, d->splices, static_cast<long long>(d->Median()), static_cast<long long>(d->Worst()));
      EXPECT_EQ(d->missed, 0) << name;
    }
    EXPECT_LE(picture.Worst(), 5 * 64);
    EXPECT_LE(noise.Worst(), 5 * 64);
    EXPECT_LE(raw.Worst(), 3152);
  }
}

}  // namespace
}  // namespace mendrake::testing
