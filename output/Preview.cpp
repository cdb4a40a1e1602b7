#include "output/Preview.h"

#include "output/JpegDecoder.h"

#include <exception>
#include <span>

namespace mendrake {
namespace {

constexpr const char* kPreviewFailed = "Unable to preview the JPEG";

// Everything from the thumbnail's start to the end of the image: a thumbnail
// record's size is not trusted to bound the picture; its end-of-image marker does.
std::span<const std::uint8_t> BytesFromThumbnail(const FileImage& image, std::uint32_t start) {
  if (std::int64_t{start} >= image.Size()) return {};
  return {image.Data() + start, static_cast<std::size_t>(image.Size() - start)};
}

}  // namespace

void ShowPreview(RepairContext& context, FileImage& image) {
  const std::span<const std::uint8_t> stored = BytesFromThumbnail(image, context.state.JPEGStart);

  // The header alone first, as a picture object learns its size on loading;
  // a failure here is reported and the decode below still tried (and fails in
  // turn, so bytes that are no JPEG at all give the line twice).
  int width = 0;
  int height = 0;
  if (!ReadJpegHeader(stored, width, height)) context.log.Append(kPreviewFailed);

  try {
    RgbBitmap picture;
    if (!DecodeJpeg(stored, picture)) {
      context.log.Append(kPreviewFailed);
      return;
    }
    context.platform.ShowPicture(picture);
  } catch (const std::exception&) {
    // A failure of the display: the run and the files written are not affected.
    context.log.Append(kPreviewFailed);
  }
}

}  // namespace mendrake
