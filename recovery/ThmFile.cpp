#include "recovery/ThmFile.h"

#include "output/JpegDecoder.h"
#include "output/JpegExtent.h"
#include "recovery/ShotTime.h"

#include <cstring>
#include <string_view>

namespace mendrake {
namespace {

// EXIF tags on the way to the shot time and the file number.
constexpr std::uint16_t kExifIfd = 0x8769;
constexpr std::uint16_t kDateTimeOriginal = 0x9003;
constexpr std::uint16_t kMakerNote = 0x927C;
constexpr std::uint16_t kCanonFileNumber = 0x0008;  // in Canon's maker note, an IFD of its own
constexpr std::size_t kExifHeader = 6;              // "Exif\0\0" before the TIFF data
// IFDs with more entries than this are not read: camera IFDs hold a few dozen.
constexpr std::uint16_t kMaxIfdEntries = 512;

// The TIFF data of an EXIF segment: every offset is from its start and
// checked against its end.
class TiffData {
 public:
  explicit TiffData(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
    bigEndian_ = bytes_.size() >= 8 && bytes_[0] == 'M';
  }

  bool Valid() const {
    return bytes_.size() >= 8 && ((bytes_[0] == 'I' && bytes_[1] == 'I' && Word(2) == 42) ||
                                  (bytes_[0] == 'M' && bytes_[1] == 'M' && Word(2) == 42));
  }
  std::uint32_t FirstIfd() const { return Long(4); }

  // The entry of tag in the IFD at offset: where its 12 bytes lie, or 0.
  std::size_t Find(std::uint32_t ifd, std::uint16_t tag) const {
    if (ifd < 8 || std::size_t{ifd} + 2 > bytes_.size()) return 0;
    const std::uint16_t count = Word(ifd);
    if (count > kMaxIfdEntries || std::size_t{ifd} + 2 + std::size_t{count} * 12 > bytes_.size()) return 0;
    for (std::uint16_t i = 0; i < count; ++i) {
      const std::size_t entry = std::size_t{ifd} + 2 + std::size_t{i} * 12;
      if (Word(entry) == tag) return entry;
    }
    return 0;
  }
  // The bytes of an entry's value: in the entry itself up to four, else at its offset.
  std::span<const std::uint8_t> Value(std::size_t entry, std::size_t unitSize) const {
    const std::uint64_t size = std::uint64_t{Long(entry + 4)} * unitSize;
    if (size <= 4) return bytes_.subspan(entry + 8, static_cast<std::size_t>(size));
    const std::uint32_t at = Long(entry + 8);
    if (at > bytes_.size() || size > bytes_.size() - at) return {};
    return bytes_.subspan(at, static_cast<std::size_t>(size));
  }
  std::uint16_t Word(std::size_t at) const {
    return bigEndian_ ? static_cast<std::uint16_t>(bytes_[at] << 8 | bytes_[at + 1])
                      : static_cast<std::uint16_t>(bytes_[at + 1] << 8 | bytes_[at]);
  }
  std::uint32_t Long(std::size_t at) const {
    const std::uint32_t first = Word(at);
    const std::uint32_t second = Word(at + 2);
    return bigEndian_ ? first << 16 | second : second << 16 | first;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  bool bigEndian_ = false;
};

// The EXIF segment's TIFF data right after the start-of-image marker.
std::span<const std::uint8_t> ExifData(std::span<const std::uint8_t> jpeg) {
  if (!StartsLikeThm(jpeg)) return {};
  const std::size_t length = std::size_t{jpeg[4]} << 8 | jpeg[5];
  if (length < 2 + kExifHeader + 8 || 4 + length > jpeg.size()) return {};
  return jpeg.subspan(6 + kExifHeader, length - 2 - kExifHeader);
}

// Canon's maker note is an IFD whose offsets count from the TIFF data's start.
std::uint32_t CanonFileNumber(const TiffData& tiff, std::size_t makerNoteEntry, std::span<const std::uint8_t> exif) {
  const std::span<const std::uint8_t> note = tiff.Value(makerNoteEntry, 1);
  if (note.size() < 2) return 0;
  const auto ifd = static_cast<std::uint32_t>(note.data() - exif.data());
  const std::size_t entry = tiff.Find(ifd, kCanonFileNumber);
  if (entry == 0 || tiff.Word(entry + 2) != 4 || tiff.Long(entry + 4) != 1) return 0;  // one LONG
  return tiff.Long(entry + 8);
}

}  // namespace

bool StartsLikeThm(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 12 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF && bytes[3] == 0xE1 &&
         std::memcmp(bytes.data() + 6, "Exif\0\0", 6) == 0;
}

std::optional<ThmFile> ReadThm(std::span<const std::uint8_t> bytes, std::int64_t position) {
  const std::size_t size = JpegExtent(bytes, ThmLimits::kMaxThmSize);
  if (size == 0) return std::nullopt;
  const std::span<const std::uint8_t> jpeg = bytes.first(size);
  const std::span<const std::uint8_t> exif = ExifData(jpeg);
  const TiffData tiff(exif);
  if (!tiff.Valid()) return std::nullopt;
  const std::size_t exifIfdEntry = tiff.Find(tiff.FirstIfd(), kExifIfd);
  if (exifIfdEntry == 0) return std::nullopt;
  const std::uint32_t exifIfd = tiff.Long(exifIfdEntry + 8);
  const std::size_t timeEntry = tiff.Find(exifIfd, kDateTimeOriginal);
  if (timeEntry == 0) return std::nullopt;
  const std::span<const std::uint8_t> timeText = tiff.Value(timeEntry, 1);
  const std::optional<std::int64_t> shotTime =
      ParseExifTime(std::string_view(reinterpret_cast<const char*>(timeText.data()), timeText.size()));
  if (!shotTime) return std::nullopt;
  RgbBitmap picture;
  if (!DecodeWholeJpeg(jpeg, picture) || picture.width != ThmLimits::kWidth || picture.height != ThmLimits::kHeight) {
    return std::nullopt;
  }
  ThmFile thm;
  thm.position = position;
  thm.bytes.assign(jpeg.begin(), jpeg.end());
  thm.shotTime = *shotTime;
  const std::size_t noteEntry = tiff.Find(exifIfd, kMakerNote);
  if (noteEntry != 0) thm.fileNumber = CanonFileNumber(tiff, noteEntry, exif);
  return thm;
}

}  // namespace mendrake
