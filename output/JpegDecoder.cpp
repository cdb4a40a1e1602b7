#include "output/JpegDecoder.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <new>

#include <jpeglib.h>

namespace mendrake {
namespace {

// Turns the decoder's fatal errors into a jump back to the caller's setjmp.
// The functions that set the jump keep only objects without destructors
// between the setjmp and the jump, as a longjmp skips destructors.
struct JumpingErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  // A warning ends the decode too: a picture that must lie whole stops at
  // its first fault, before the decoder fills in the rest at full cost.
  bool warningsFail = false;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JumpingErrorManager*>(info->err)->jump, 1);
}

// Warnings (level -1) are counted, not shown; trace messages are dropped.
void CountWarning(j_common_ptr info, int level) {
  if (level >= 0) return;
  ++info->err->num_warnings;
  if (reinterpret_cast<JumpingErrorManager*>(info->err)->warningsFail) JumpOnError(info);
}

void StopAfterTooManyScans(j_common_ptr info) {
  if (info->is_decompressor) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    const std::int64_t scanPixels =
        std::int64_t{decompress->input_scan_number} * decompress->image_width * decompress->image_height;
    if (decompress->input_scan_number > kMaxJpegScans || scanPixels > kMaxJpegScanPixels) JumpOnError(info);
  }
}

void Install(jpeg_decompress_struct& info, JumpingErrorManager& errors, jpeg_progress_mgr& progress) {
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOnError;
  errors.base.emit_message = CountWarning;
  progress.progress_monitor = StopAfterTooManyScans;
}

// No exception may unwind through the jump region: a picture too large or an
// allocation that fails is a failure of the decode like any other.
bool AllocatePixels(RgbBitmap& picture, JDIMENSION width, JDIMENSION height) noexcept {
  const std::int64_t pixels = std::int64_t{width} * height;
  if (pixels > kMaxJpegPixels) return false;
  try {
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.pixels.resize(static_cast<std::size_t>(pixels) * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

constexpr int kMaxRowsPerRead = 4;

// As many rows a call as the decoder produces at once, straight into the bitmap.
// Runs inside the caller's jump region: no objects with destructors here either.
void ReadAllRows(jpeg_decompress_struct& info, RgbBitmap& picture) {
  JSAMPROW rows[kMaxRowsPerRead];
  const int rowsPerRead = info.rec_outbuf_height < kMaxRowsPerRead ? info.rec_outbuf_height : kMaxRowsPerRead;
  while (info.output_scanline < info.output_height) {
    for (int i = 0; i < rowsPerRead; ++i) {
      const JDIMENSION y = info.output_scanline + static_cast<JDIMENSION>(i);
      const JDIMENSION clamped = y < info.output_height ? y : info.output_height - 1;
      rows[i] = picture.pixels.data() + std::size_t{clamped} * info.output_width * 3;
    }
    jpeg_read_scanlines(&info, rows, static_cast<JDIMENSION>(rowsPerRead));
  }
}

// With every row in, the decoder reads on to the end-of-image marker, and what
// it meets on the way can still fail the decode: a thumbnail cut inside its
// image data runs into the bytes that follow it in the CRW file, and a marker
// there that has no place after the last scan is an error. The search for that
// marker looks at no more than kMaxJpegBytesAfterRows bytes: past them the data
// is taken to end, as it does at the end of the file image. Runs inside the
// caller's jump region.
void ReadOnToTheEnd(jpeg_decompress_struct& info) {
  if (info.src->bytes_in_buffer > kMaxJpegBytesAfterRows) info.src->bytes_in_buffer = kMaxJpegBytesAfterRows;
  jpeg_finish_decompress(&info);
}

// Reads the header and, when picture is given, decodes the whole picture into it.
bool RunDecoder(std::span<const std::uint8_t> bytes, int& width, int& height, RgbBitmap* picture,
                bool warningsFail = false) {
  jpeg_decompress_struct info;
  JumpingErrorManager errors;
  jpeg_progress_mgr progress;
  Install(info, errors, progress);
  errors.warningsFail = warningsFail;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  info.progress = &progress;
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  width = static_cast<int>(info.image_width);
  height = static_cast<int>(info.image_height);
  if (picture != nullptr) {
    info.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&info);
    if (!AllocatePixels(*picture, info.output_width, info.output_height)) {
      jpeg_destroy_decompress(&info);
      return false;
    }
    jpeg_start_decompress(&info);
    ReadAllRows(info, *picture);
    ReadOnToTheEnd(info);
  }
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

bool ReadJpegHeader(std::span<const std::uint8_t> bytes, int& width, int& height) {
  return RunDecoder(bytes, width, height, nullptr);
}

bool DecodeJpeg(std::span<const std::uint8_t> bytes, RgbBitmap& picture) {
  int width = 0;
  int height = 0;
  return RunDecoder(bytes, width, height, &picture);
}

bool DecodeWholeJpeg(std::span<const std::uint8_t> bytes, RgbBitmap& picture) {
  int width = 0;
  int height = 0;
  return RunDecoder(bytes, width, height, &picture, true);
}

}  // namespace mendrake
