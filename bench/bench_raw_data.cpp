// The raw data decoded: a whole EOS 300D photo's compressed stream checked,
// and one candidate cluster tried from a decode saved mid-stream, as a search
// of pieces tries each candidate.
#include "recovery/CanonRawDecoder.h"
#include "recovery/RawDataCheck.h"
#include "tests/support/PhotoFile.h"

#include <benchmark/benchmark.h>

namespace mendrake {
namespace {

const testing::PhotoFile& CameraPhoto() {
  static const testing::PhotoFile photo = [] {
    testing::PhotoFileOptions options;  // 3,152 x 2,068 values with low bits
    options.hasThumbnail = false;
    return testing::MakePhotoFile(options);
  }();
  return photo;
}

void CheckCameraRawData(benchmark::State& state) {
  const testing::PhotoFile& photo = CameraPhoto();
  for (auto _ : state) {
    const RawDataCheck check = CheckRawData(photo.bytes);
    if (check.verdict != RawDataVerdict::Plausible) state.SkipWithError(check.reason.c_str());
    benchmark::DoNotOptimize(check.brokenAt);
  }
  // The compressed stream is what is decoded; the low bits are only passed.
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(photo.rawDataEnd - photo.streamStart));
}
BENCHMARK(CheckCameraRawData)->Unit(benchmark::kMillisecond);

void TryCandidateCluster(benchmark::State& state) {
  const testing::PhotoFile& photo = CameraPhoto();
  const auto cluster = static_cast<std::size_t>(state.range(0));
  const std::size_t at = (photo.streamStart + (photo.rawDataEnd - photo.streamStart) / 2) / cluster * cluster;
  std::string whyNot;
  CanonRawDecoder saved(*ReadCanonRawLayout(photo.bytes, whyNot));
  saved.Feed(std::span(photo.bytes).first(at));
  const std::span<const std::uint8_t> candidate = std::span(photo.bytes).subspan(at, cluster);
  for (auto _ : state) {
    CanonRawDecoder tried = saved;
    tried.Feed(candidate);
    benchmark::DoNotOptimize(tried.ValuesDecoded());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * cluster));
}
BENCHMARK(TryCandidateCluster)->Arg(2048)->Arg(32768)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace mendrake
