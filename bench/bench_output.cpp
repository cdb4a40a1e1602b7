// The output side: decoding a camera-sized thumbnail for the preview (against
// libjpeg on its own, with djpeg's settings) and a multi-file repair run that
// writes every repaired copy and thumbnail.
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "output/JpegDecoder.h"
#include "output/Preview.h"
#include "repair/RepairRun.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"

#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace mendrake {
namespace {

constexpr int kThumbnailWidth = 1536;
constexpr int kThumbnailHeight = 1024;
constexpr std::size_t kCameraFileSize = 7 * 1024 * 1024;
constexpr std::size_t kBatchJunk = 512 * 1024;
constexpr int kBatchFiles = 10;

// make bench passes a camera-like picture (bench/picturemake); without it a
// smooth test picture of the same size stands in.
const testing::Bytes& Thumbnail() {
  static const testing::Bytes jpeg = [] {
    const char* path = std::getenv("MENDRAKE_BENCH_THUMBNAIL");
    return path ? testing::ReadFile(path) : testing::MakeJpeg(kThumbnailWidth, kThumbnailHeight);
  }();
  return jpeg;
}

std::filesystem::path BenchFolder() {
  static const std::filesystem::path folder = [] {
    const char* dir = std::getenv("MENDRAKE_BENCH_DIR");
    std::filesystem::path path = dir ? std::filesystem::path(dir) / "output"
                                     : std::filesystem::temp_directory_path() / ("mendrake-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// libjpeg on its own, as djpeg -ppm decodes: RGB out, default DCT and upsampling.
struct PlainError {
  jpeg_error_mgr manager;
  std::jmp_buf exit;
};

bool PlainDecode(const testing::Bytes& jpeg, std::vector<std::uint8_t>& rgb) {
  jpeg_decompress_struct info;
  PlainError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = [](j_common_ptr common) { std::longjmp(reinterpret_cast<PlainError*>(common->err)->exit, 1); };
  jpeg_create_decompress(&info);
  if (setjmp(error.exit)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
  rgb.resize(stride * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = rgb.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

void ReportPixels(benchmark::State& run) {
  run.counters["pixels/s"] = benchmark::Counter(double{kThumbnailWidth} * kThumbnailHeight,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void DecodeThumbnail(benchmark::State& run) {
  const testing::Bytes& jpeg = Thumbnail();
  for (auto _ : run) {
    RgbBitmap picture;
    if (!DecodeJpeg(jpeg, picture)) {
      run.SkipWithError("the thumbnail did not decode");
      return;
    }
    benchmark::DoNotOptimize(picture.pixels.data());
  }
  ReportPixels(run);
}

void DecodeWithPlainLibjpeg(benchmark::State& run) {
  const testing::Bytes& jpeg = Thumbnail();
  for (auto _ : run) {
    std::vector<std::uint8_t> rgb;
    if (!PlainDecode(jpeg, rgb)) {
      run.SkipWithError("the thumbnail did not decode");
      return;
    }
    benchmark::DoNotOptimize(rgb.data());
  }
  ReportPixels(run);
}

// The picture view of a window: takes the picture as the window would.
class PictureTakingPlatform final : public Platform {
 public:
  void ShowPicture(const RgbBitmap& picture) override { shown_ = picture.pixels.size(); }
  std::size_t shown_ = 0;
};

// ShowPreview as the run calls it, from the run's image of a camera file.
void PreviewFromImage(benchmark::State& run) {
  testing::CameraFileOptions options;
  options.thumbnail = Thumbnail();
  const testing::Bytes file = testing::MakeCameraFile(options);
  FileImage image;
  image.Assign(file.data(), static_cast<std::int64_t>(file.size()));
  AnalysisState state;
  // The builder stores the raw data first and the thumbnail right after it.
  state.JPEGStart = static_cast<std::uint32_t>(26 + options.rawDataSize);
  PictureTakingPlatform platform;
  for (auto _ : run) {
    LogLines log;
    RepairContext context{state, log, platform};
    ShowPreview(context, image);
    if (platform.shown_ == 0 || !log.Lines().empty()) {
      run.SkipWithError("the preview failed");
      return;
    }
  }
  ReportPixels(run);
}

// A multi-file run: every file analysed, its repaired copy and thumbnail
// written next to it, the last one previewed.
void MultiFileRun(benchmark::State& run) {
  std::vector<std::string> paths;
  testing::CameraFileOptions options;
  options.thumbnail = Thumbnail();
  options.rawDataSize = 1;
  options.rawDataSize = kCameraFileSize - (testing::MakeCameraFile(options).size() - 1);
  const testing::Bytes camera = testing::MakeCameraFile(options);
  const std::filesystem::path folder = BenchFolder() / "batch";
  std::filesystem::create_directories(folder);
  for (int i = 0; i < kBatchFiles; ++i) {
    testing::Bytes file = camera;
    testing::AppendJunk(file, i % 2 ? testing::JunkKind::kZeros : testing::JunkKind::kRandom, kBatchJunk,
                        static_cast<std::uint32_t>(i + 1));
    paths.push_back((folder / ("IMG_" + std::to_string(1000 + i) + ".CRW")).string());
    testing::WriteFile(paths.back(), file);
  }
  PictureTakingPlatform platform;
  for (auto _ : run) {
    AnalysisState state;
    LogLines log;
    RepairContext context{state, log, platform};
    RepairRun(context, paths);
  }
  run.counters["files/s"] = benchmark::Counter(kBatchFiles, benchmark::Counter::kIsIterationInvariantRate);
  run.SetBytesProcessed(static_cast<std::int64_t>(run.iterations()) * kBatchFiles *
                        static_cast<std::int64_t>(kCameraFileSize + kBatchJunk));
}

BENCHMARK(DecodeThumbnail)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeWithPlainLibjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(PreviewFromImage)->Unit(benchmark::kMillisecond);
BENCHMARK(MultiFileRun)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mendrake
