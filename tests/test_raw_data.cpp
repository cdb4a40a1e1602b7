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
#include <map>
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

// Photos of an EOS 300D's sensor, made once for the whole program.
const PhotoFile& CameraPhoto(std::uint32_t seed) {
  static std::map<std::uint32_t, PhotoFile> photos;
  auto found = photos.find(seed);
  if (found == photos.end()) found = photos.emplace(seed, SmallPhoto(seed, true, 0, 3152, 2068)).first;
  return found->second;
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
        // The last stripe of 36 rows: four rows of 264, 16 blocks and 32
        // values left uncoded, as an EOS D60's 3,144 x 2,060.
        options.width = 264;
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

// The values decode to those encoded: fed a byte at a time, every row's
// averages, as the decoder keeps them for the continuity check, are those of
// the photo's 10 bits.
TEST(RawData, RowsDecodeToTheValuesEncoded) {
  for (const bool lowBits : {true, false}) {
    const PhotoFile photo = SmallPhoto(21, lowBits, lowBits ? 2 : 1, 264, 36);
    CanonRawDecoder decoder(LayoutOf(photo.bytes));
    std::uint32_t checked = 0;
    for (std::size_t at = 0; at < photo.bytes.size(); ++at) {
      decoder.Feed(std::span(photo.bytes).subspan(at, 1));
      if (decoder.RowsDecoded() == checked) continue;
      ASSERT_EQ(decoder.RowsDecoded(), checked + 1);
      const std::span<const std::uint16_t> averages = decoder.RowAverages(checked);
      for (std::uint32_t group = 0; group < averages.size(); ++group) {
        const std::uint32_t from = group * CanonRawDecoder::kGroupWidth;
        const std::uint32_t to = std::min(photo.image.width, from + CanonRawDecoder::kGroupWidth);
        std::uint32_t sum = 0;
        for (std::uint32_t x = from; x < to; ++x) sum += photo.image.At(x, checked) >> (lowBits ? 2 : 0);
        ASSERT_EQ(averages[group], sum / (to - from)) << "row " << checked << " group " << group;
      }
      ++checked;
    }
    EXPECT_TRUE(decoder.Complete());
    // The last stripe's last row is not whole: its 32 values are not coded.
    EXPECT_EQ(checked, 35u);
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
    EXPECT_LE(spliced.EarliestSplice(), static_cast<std::int64_t>(at));
    EXPECT_GT(spliced.BrokenAt(), static_cast<std::int64_t>(at));
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
  const PhotoFile& photo = CameraPhoto(1);
  const PhotoFile& other = CameraPhoto(2);
  const Bytes jpeg = MakeJpeg(1600, 1200);
  for (const std::size_t cluster : {2048u, 32768u}) {
    const SpliceDistances raw = Splices(photo, cluster, 200003, [&](std::size_t at) {
      // A cluster of the other photo's stream, three clusters on, or back near its end.
      const std::size_t from = at + 4 * cluster <= other.rawDataEnd ? at + 3 * cluster : at - 3 * cluster;
      return Bytes(other.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                   other.bytes.begin() + static_cast<std::ptrdiff_t>(from + cluster));
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
    EXPECT_LE(raw.Worst(), 64 * CanonRawDecoder::kSpliceReachBlocks);
  }
}

// On a narrow sensor, rows of 512 values, the decode takes longer to drift
// out of range (each row starts again from 512), but still breaks within the
// reach that the decoder names.
TEST(RawData, ForeignClusterBreaksTheDecodeOfANarrowSensorWithinTheReachNamed) {
  const PhotoFile photo = SmallPhoto(11, true, 0, 512, 320);
  const PhotoFile other = SmallPhoto(12, true, 0, 512, 320);
  const SpliceDistances raw = Splices(photo, 2048, 2048, [&](std::size_t at) {
    return Bytes(other.bytes.begin() + static_cast<std::ptrdiff_t>(at), other.bytes.begin() + static_cast<std::ptrdiff_t>(at + 2048));
  });
  std::printf("%d splices, median %lld, worst %lld values past the splice's block\n", raw.splices,
              static_cast<long long>(raw.Median()), static_cast<long long>(raw.Worst()));
  EXPECT_EQ(raw.missed, 0);
  EXPECT_LE(raw.Worst(), 64 * CanonRawDecoder::kSpliceReachBlocks);
}

// A decode fed a cluster at a time, each cluster on a copy of the state the
// cluster before left, ends as the whole file's; from a state saved at a
// cluster start, only the photo's own next cluster continues it, among
// another photo's, a JPEG's and a zeroed one; the others break.
TEST(RawData, ClustersTriedFromASavedStateOnlyThePhotosOwnContinues) {
  const PhotoFile& photo = CameraPhoto(1);
  const PhotoFile& other = CameraPhoto(2);
  constexpr std::size_t kCluster = 4096;
  const CanonRawLayout layout = LayoutOf(photo.bytes);
  CanonRawDecoder decoder(layout);
  for (std::size_t at = 0; at < photo.bytes.size(); at += kCluster) {
    CanonRawDecoder next = decoder;
    next.Feed(std::span(photo.bytes).subspan(at, std::min(kCluster, photo.bytes.size() - at)));
    decoder = next;
  }
  EXPECT_TRUE(decoder.Complete());
  EXPECT_FALSE(decoder.Broken()) << CanonRawDecoder::FaultText(decoder.FaultFound());
  EXPECT_EQ(decoder.ValuesDecoded(), std::int64_t{3152} * 2068);

  const Bytes jpeg = MakeJpeg(800, 600);
  const Bytes zeros(kCluster, 0);
  for (const std::size_t at : {std::size_t{2'003'000} / kCluster * kCluster, std::size_t{5'000'000} / kCluster * kCluster}) {
    const CanonRawDecoder saved = DecodedUpTo(photo.bytes, at);
    const std::span<const std::uint8_t> candidates[] = {
        std::span(other.bytes).subspan(at + kCluster * 5, kCluster),
        std::span(jpeg).subspan(ImageDataStart(jpeg) + 1000, kCluster),
        std::span(photo.bytes).subspan(at, kCluster),
        std::span(zeros),
    };
    std::vector<Continuation> tried = TryContinuations(saved, candidates);
    ASSERT_EQ(tried.size(), 4u);
    // Undecided ones are fed what follows their cluster until they are decided.
    for (std::size_t i = 0; i < tried.size(); ++i) {
      const std::size_t after = (i == 0 ? at + kCluster * 6 : at + kCluster);
      const Bytes& source = i == 0 ? other.bytes : photo.bytes;
      for (std::size_t more = 0; tried[i].verdict == ContinuationVerdict::Undecided; more += kCluster) {
        tried[i].after.Feed(std::span(source).subspan(after + more, kCluster));
        tried[i].verdict = JudgeContinuation(saved, tried[i].after);
      }
    }
    EXPECT_EQ(tried[0].verdict, ContinuationVerdict::Breaks);
    EXPECT_EQ(tried[1].verdict, ContinuationVerdict::Breaks);
    EXPECT_EQ(tried[2].verdict, ContinuationVerdict::Continues);
    EXPECT_EQ(tried[3].verdict, ContinuationVerdict::Breaks);
    EXPECT_FALSE(saved.Broken());  // the saved state stays as it was
    EXPECT_EQ(saved.NextOffset(), static_cast<std::int64_t>(at));
  }
}

// A photo in two pieces on a card, another photo's clusters and a JPEG's
// between them: decoded cluster after cluster from its header on, the decode
// breaks a little after the first piece's end; the cluster starts where the
// break may begin hold that end; from the state saved there, among the
// clusters that follow on the card, only the second piece's first continues
// the decode, and only at the true end of the first piece.
TEST(RawData, APieceEndsWhereTheDecodeBreaksAndTheNextPieceIsTheClusterThatContinuesIt) {
  const PhotoFile& photo = CameraPhoto(1);
  const PhotoFile& other = CameraPhoto(2);
  const Bytes jpeg = MakeJpeg(800, 600);
  constexpr std::size_t kCluster = 4096;
  const std::size_t split = 3'500'000 / kCluster * kCluster;
  // The card's clusters after the first piece: two of the other photo's, one
  // of the JPEG's, then the second piece.
  std::vector<std::span<const std::uint8_t>> card;
  for (std::size_t at = 0; at < split; at += kCluster) card.push_back(std::span(photo.bytes).subspan(at, kCluster));
  const std::size_t firstPieceClusters = card.size();
  card.push_back(std::span(other.bytes).subspan(split + 9 * kCluster, kCluster));
  card.push_back(std::span(other.bytes).subspan(split + 10 * kCluster, kCluster));
  card.push_back(std::span(jpeg).subspan(ImageDataStart(jpeg), kCluster));
  for (std::size_t at = split; at < photo.bytes.size(); at += kCluster) {
    card.push_back(std::span(photo.bytes).subspan(at, std::min(kCluster, photo.bytes.size() - at)));
  }

  // The layout from the first piece's head and the last piece's end alone.
  const CanonRawLayout layout = LayoutOf(photo.bytes);
  const auto size = static_cast<std::int64_t>(photo.bytes.size());
  const FileStretch stretches[] = {{0, std::span(photo.bytes).first(65536)},
                                   {size - 65536, std::span(photo.bytes).last(65536)}};
  std::string whyNot;
  const std::optional<CanonRawLayout> fromPieces = ReadCanonRawLayout(stretches, size, whyNot);
  ASSERT_TRUE(fromPieces) << whyNot;
  EXPECT_EQ(fromPieces->StreamStart(), layout.StreamStart());
  EXPECT_EQ(fromPieces->RecordEnd(), layout.RecordEnd());
  EXPECT_EQ(fromPieces->lowBits, layout.lowBits);
  EXPECT_FALSE(ReadCanonRawLayout(std::span(stretches).first(1), size, whyNot));

  // Decoding the card as if the file lay on it in one piece, with the states
  // at cluster starts kept.
  std::map<std::int64_t, CanonRawDecoder> states;
  CanonRawDecoder decoder(layout);
  for (std::size_t i = 0; i < card.size() && !decoder.Broken(); ++i) {
    states.emplace(decoder.NextOffset(), decoder);
    decoder.Feed(card[i]);
  }
  ASSERT_TRUE(decoder.Broken());
  const std::vector<std::int64_t> ends = ClusterStartsBeforeBreak(decoder, kCluster);
  ASSERT_FALSE(ends.empty());
  EXPECT_NE(std::find(ends.begin(), ends.end(), static_cast<std::int64_t>(split)), ends.end());
  EXPECT_LE(ends.size(), 3u);

  // Each possible end against each cluster that follows the first piece on the card.
  int continuing = 0;
  for (const std::int64_t end : ends) {
    const CanonRawDecoder& saved = states.at(end);
    const std::vector<std::span<const std::uint8_t>> candidates(card.begin() + static_cast<std::ptrdiff_t>(firstPieceClusters),
                                                                card.begin() + static_cast<std::ptrdiff_t>(firstPieceClusters + 4));
    std::vector<Continuation> tried = TryContinuations(saved, candidates);
    for (std::size_t c = 0; c < tried.size(); ++c) {
      // What follows a candidate on the card decides an undecided one.
      for (std::size_t next = firstPieceClusters + c + 1;
           tried[c].verdict == ContinuationVerdict::Undecided && next < card.size(); ++next) {
        tried[c].after.Feed(card[next]);
        tried[c].verdict = JudgeContinuation(saved, tried[c].after);
      }
      if (tried[c].verdict == ContinuationVerdict::Continues) {
        ++continuing;
        EXPECT_EQ(end, static_cast<std::int64_t>(split));
        EXPECT_EQ(c, 3u);  // the second piece's first cluster
      }
    }
  }
  EXPECT_EQ(continuing, 1);
}

// Bytes of another photo over the low bits decode as plausibly as the
// photo's own: the check says from where on its word counts, and a decode
// that breaks at the stream's start says that its piece may end before.
TEST(RawData, ASpliceInTheLowBitsIsNotSeenAndTheCheckSaysWhereItsSignalBegins) {
  const PhotoFile& photo = CameraPhoto(1);
  const PhotoFile& other = CameraPhoto(2);
  Bytes spliced = photo.bytes;
  constexpr std::size_t kAt = 65536 * 3;
  std::copy_n(other.bytes.begin() + kAt, 65536, spliced.begin() + kAt);
  ASSERT_NE(spliced, photo.bytes);
  const RawDataCheck check = CheckRawData(spliced);
  EXPECT_EQ(check.verdict, RawDataVerdict::Plausible) << check.reason;
  EXPECT_EQ(check.signalFrom, static_cast<std::int64_t>(photo.streamStart));
  EXPECT_GT(check.signalFrom, static_cast<std::int64_t>(kAt + 65536));
  // 3,152 x 2,068 values, a quarter byte each, then 514 bytes.
  EXPECT_EQ(check.signalFrom, 26 + 3152 * 2068 / 4 + 514);

  // A foreign cluster that begins in the low bits and holds the stream's
  // start breaks the decode at once; the piece may end at that cluster's
  // start, or anywhere before it.
  constexpr std::int64_t kCluster = 4096;
  const std::int64_t holder = check.signalFrom / kCluster * kCluster;
  Bytes early = photo.bytes;
  std::copy_n(other.bytes.begin() + holder + 7 * kCluster, kCluster, early.begin() + holder);
  CanonRawDecoder decoder(LayoutOf(early));
  decoder.Feed(early);
  ASSERT_TRUE(decoder.Broken());
  EXPECT_EQ(decoder.EarliestSplice(), check.signalFrom);
  const std::vector<std::int64_t> ends = ClusterStartsBeforeBreak(decoder, kCluster);
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(ends.front(), holder);
  EXPECT_EQ(CheckRawData(early).verdict, RawDataVerdict::Broken);
}

TEST(RawData, CodedDataInTheLowBitsIsToldFromThemWhereTheDecodeSeesNothing) {
  // Another photo's low bits look like the photo's own; a cluster of its
  // compressed stream, where every FF byte is stuffed, does not.
  const PhotoFile& photo = CameraPhoto(1);
  const PhotoFile& other = CameraPhoto(2);
  for (const std::int64_t cluster : {8192, 32768}) {
    EXPECT_EQ(CodedClusterInLowBits(photo.bytes, cluster), -1) << cluster;
    Bytes lowBits = photo.bytes, coded = photo.bytes;
    const std::size_t at = 3 * 65536;
    std::copy_n(other.bytes.begin() + static_cast<std::ptrdiff_t>(at), cluster, lowBits.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy_n(other.bytes.begin() + static_cast<std::ptrdiff_t>(other.streamStart + 10 * 65536), cluster,
                coded.begin() + static_cast<std::ptrdiff_t>(at));
    EXPECT_EQ(CodedClusterInLowBits(lowBits, cluster), -1) << cluster;
    EXPECT_EQ(CodedClusterInLowBits(coded, cluster), static_cast<std::int64_t>(at)) << cluster;
  }
  // A small cluster that holds marks enough is told alone, though the low
  // bits after it break the stuffing at once.
  constexpr std::size_t kSmall = 2048;
  std::size_t from = other.streamStart;
  while (std::count(other.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    other.bytes.begin() + static_cast<std::ptrdiff_t>(from + kSmall), 0xFF) < 6) {
    from += kSmall;
  }
  Bytes coded = photo.bytes;
  const std::size_t at = 5 * kSmall;
  std::copy_n(other.bytes.begin() + static_cast<std::ptrdiff_t>(from), kSmall, coded.begin() + static_cast<std::ptrdiff_t>(at));
  EXPECT_EQ(CodedClusterInLowBits(coded, kSmall), static_cast<std::int64_t>(at));

  // A THM's last cluster: two stuffed marks, its end marker, then slack
  // whose FF bytes are followed by anything.
  Bytes thmTail = photo.bytes;
  const std::size_t tail = 10 * kSmall;
  std::replace(thmTail.begin() + static_cast<std::ptrdiff_t>(tail),
               thmTail.begin() + static_cast<std::ptrdiff_t>(tail + 512), std::uint8_t{0xFF}, std::uint8_t{0xFE});
  for (const auto& [offset, next] : {std::pair{57, 0x00}, {112, 0x00}, {248, 0xD9}, {498, 0x22}}) {
    thmTail[tail + offset] = 0xFF;
    thmTail[tail + offset + 1] = static_cast<std::uint8_t>(next);
  }
  EXPECT_EQ(CodedClusterInLowBits(thmTail, 512), static_cast<std::int64_t>(tail));
}

// A record that ends before its stream, or holds far more than it, is no
// camera's: the length is the last check, and a few bytes of padding pass.
TEST(RawData, StreamAndRecordMustEndTogether) {
  PhotoFileOptions options;
  options.width = 512;
  options.height = 160;
  options.thumbnailWidth = 32;
  options.thumbnailHeight = 24;
  const SensorImage image = SyntheticPhoto(512, 160, 12, 1);
  const Bytes record = EncodeCanonRaw(image, 0);
  const auto fileWith = [&](Bytes raw) {
    CameraFileOptions camera;
    camera.model = options.model;
    camera.width = 512;
    camera.height = 160;
    camera.rawData = std::move(raw);
    camera.decoderTableSet = 0;
    return MakeCameraFile(camera);
  };
  EXPECT_EQ(CheckRawData(fileWith(record)).verdict, RawDataVerdict::Plausible);
  Bytes padded = record;
  padded.resize(record.size() + 8, 0);
  EXPECT_EQ(CheckRawData(fileWith(padded)).verdict, RawDataVerdict::Plausible);
  for (const std::size_t cut : {1u, 40u, 5000u}) {
    const RawDataCheck check = CheckRawData(fileWith(Prefix(record, record.size() - cut)));
    EXPECT_EQ(check.verdict, RawDataVerdict::Broken) << cut;
    EXPECT_NE(check.reason.find("before every row"), std::string::npos) << check.reason;
  }
  Bytes overlong = record;
  overlong.resize(record.size() + 27, 0);
  const RawDataCheck check = CheckRawData(fileWith(overlong));
  EXPECT_EQ(check.verdict, RawDataVerdict::Broken);
  EXPECT_NE(check.reason.find("well before the record's end"), std::string::npos) << check.reason;
  // A file cut short has lost its directories: nothing to decode.
  EXPECT_EQ(CheckRawData(Prefix(fileWith(record), 20000)).verdict, RawDataVerdict::Unknown);
}

// What the decoder does not know is Unknown, never Broken: the camera's
// sample with placeholder texts for its data, builder files with filler, a
// decoder table no camera names, a record of uncompressed size, a sensor
// whose rows are no whole number of blocks.
TEST(RawData, DataThisDecoderDoesNotKnowIsUnknown) {
  const RawDataCheck sample = CheckRawData(ReadFile(std::string(MENDRAKE_SAMPLES_DIR) + "/CanonRaw.crw"));
  EXPECT_EQ(sample.verdict, RawDataVerdict::Unknown);
  EXPECT_EQ(sample.signalFrom, -1);
  EXPECT_NE(sample.reason.find("too short"), std::string::npos) << sample.reason;
  EXPECT_EQ(CheckRawData(MakeCameraFile()).verdict, RawDataVerdict::Unknown);

  CameraFileOptions camera;
  camera.width = 512;
  camera.height = 160;
  camera.rawData = EncodeCanonRaw(SyntheticPhoto(512, 160, 12, 1), 0);
  camera.decoderTableSet = 0;
  EXPECT_EQ(CheckRawData(MakeCameraFile(camera)).verdict, RawDataVerdict::Plausible);
  CameraFileOptions otherTable = camera;
  otherTable.decoderTableSet = 5;
  EXPECT_EQ(CheckRawData(MakeCameraFile(otherTable)).verdict, RawDataVerdict::Unknown);
  CameraFileOptions noTable = camera;
  noTable.hasDecoderTable = false;
  EXPECT_EQ(CheckRawData(MakeCameraFile(noTable)).verdict, RawDataVerdict::Unknown);
  CameraFileOptions uncompressed = camera;
  uncompressed.rawData = Filler(512 * 160 * 10 / 8, 0x5A);
  EXPECT_EQ(CheckRawData(MakeCameraFile(uncompressed)).verdict, RawDataVerdict::Unknown);
  CameraFileOptions oddSensor = camera;
  oddSensor.width = 516;
  EXPECT_EQ(CheckRawData(MakeCameraFile(oddSensor)).verdict, RawDataVerdict::Unknown);
}

// Bytes changed anywhere, files cut anywhere, noise: every answer stays
// inside the file, and nothing changed in the stream decodes as plausible
// unless it decodes to the same rows.
TEST(RawData, HostileBytesNeverCrashTheCheck) {
  const PhotoFile photo = SmallPhoto(4, false, 1, 128, 64);
  std::mt19937 random(9);
  int broken = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes bytes = photo.bytes;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < changes; ++k) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    const RawDataCheck check = CheckRawData(bytes);
    ASSERT_FALSE(check.reason.empty());
    if (check.verdict == RawDataVerdict::Broken) {
      ++broken;
      EXPECT_GE(check.brokenAt, check.signalFrom);
      EXPECT_LE(check.brokenAt, static_cast<std::int64_t>(bytes.size()));
    }
  }
  EXPECT_GT(broken, 100);
  for (std::size_t size = 0; size < photo.bytes.size(); size += 97) {
    EXPECT_NE(CheckRawData(Prefix(photo.bytes, size)).verdict, RawDataVerdict::Plausible);
  }
  Bytes noise(20000);
  for (std::uint8_t& byte : noise) byte = static_cast<std::uint8_t>(random());
  EXPECT_EQ(CheckRawData(noise).verdict, RawDataVerdict::Unknown);
}

}  // namespace
}  // namespace mendrake::testing
