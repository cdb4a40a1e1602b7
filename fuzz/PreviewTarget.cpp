#include "analysis/AnalysisState.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "output/JpegDecoder.h"
#include "output/Preview.h"

#include <span>
#include <vector>

namespace mendrake::fuzz {
namespace {

// Checks every picture the preview would show.
class CheckingView : public Platform {
 public:
  void ShowPicture(const RgbBitmap& picture) override {
    ++shown_;
    width_ = picture.width;
    height_ = picture.height;
    CheckPicture(picture);
  }
  int Width() const { return width_; }
  int Height() const { return height_; }
  static void CheckPicture(const RgbBitmap& picture) {
    if (picture.width <= 0 || picture.height <= 0) Broken("a picture without pixels");
    const std::int64_t pixels = std::int64_t{picture.width} * picture.height;
    if (pixels > kMaxJpegPixels) Broken("a picture past the pixel limit");
    if (picture.pixels.size() != static_cast<std::size_t>(pixels) * 3) Broken("pixels that do not fill the picture");
  }
  int Shown() const { return shown_; }

 private:
  int shown_ = 0;
  int width_ = 0;
  int height_ = 0;
};

// Pictures of more than a megapixel are not decoded here, as libjpeg-turbo's
// own fuzzers skip them: the decoder fills a picture's rows before the scan
// data that a mutated input hardly has, up to 24 MB a picture, which under
// AddressSanitizer held the harness to about 80 inputs a second. Their header
// is still read; the decoder's own bound (kMaxJpegPixels) and large pictures
// are tested among the tests.
constexpr std::int64_t kMaxFuzzedPixels = std::int64_t{1} << 20;

}  // namespace

void DecodePreviewBytes(const std::uint8_t* data, std::size_t size) {
  int width = 0;
  int height = 0;
  const bool headerRead = ReadJpegHeader(std::span<const std::uint8_t>(data, size), width, height);
  if (headerRead && std::int64_t{width} * height > kMaxFuzzedPixels) return;

  // The bytes as the thumbnail of a run's image, one byte into it: the preview
  // reads from JPEGStart to the end of the image. It decodes once; the header
  // read above is cheap.
  std::vector<std::uint8_t> withLead(size + 1, 0);
  std::copy(data, data + size, withLead.begin() + 1);
  FileImage image;
  image.Assign(withLead.data(), static_cast<std::int64_t>(withLead.size()));
  AnalysisState state;
  state.JPEGStart = 1;
  state.JPEGSize = static_cast<std::uint32_t>(size);
  LogLines log;
  CheckingView view;
  RepairContext context{state, log, view};
  ShowPreview(context, image);

  if (view.Shown() > 1) Broken("one preview showed several pictures");
  if (view.Shown() == 1) {
    if (!headerRead) Broken("shown a picture whose header could not be read");
    if (view.Width() != width || view.Height() != height) Broken("the header and the picture disagree");
  }
  // Shown without a word, or "Unable to preview the JPEG" once or twice.
  if (log.Lines().size() > 2 || (view.Shown() == 1 && !log.Lines().empty())) Broken("preview lines do not fit the outcome");
}

}  // namespace mendrake::fuzz
