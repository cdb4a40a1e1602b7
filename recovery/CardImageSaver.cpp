#include "recovery/CardImageSaver.h"

#include "files/FileError.h"
#include "files/FileIo.h"
#include "files/Utf8Path.h"

#include <algorithm>
#include <filesystem>

namespace mendrake {
namespace {

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(PathFromUtf8(path), error);
}

PositionedFile::Open HowToOpen(const std::string& imagePath, bool fillExisting) {
  return fillExisting && Exists(imagePath) ? PositionedFile::Open::kExisting : PositionedFile::Open::kNew;
}

// The map an earlier run left beside the image.
RescueMap ReadMapfile(const std::string& path, std::int64_t cardSize) {
  if (!Exists(path)) {
    throw FileError(path, "is missing: an image is filled further only with the mapfile that says what it holds");
  }
  OpenSource source = OpenForReading(path);
  std::string text(static_cast<std::size_t>(source.size), '\0');
  ReadAll(source.file.get(), reinterpret_cast<std::uint8_t*>(text.data()), source.size, path);
  RescueMap map(cardSize);
  std::string why;
  if (!RescueMap::Parse(text, cardSize, map, why)) throw FileError(path, "is not a mapfile of this card: " + why);
  return map;
}

}  // namespace

std::string MapfileOf(const std::string& imagePath) { return imagePath + ".map"; }

CardImageSaver::CardImageSaver(CardReader& card, const std::string& imagePath, bool fillExisting,
                               std::int64_t sectorSize)
    : card_(card),
      mapfilePath_(MapfileOf(imagePath)),
      sectorSize_(sectorSize),
      image_(imagePath, HowToOpen(imagePath, fillExisting)),
      map_(card.Size()) {
  if (HowToOpen(imagePath, fillExisting) == PositionedFile::Open::kExisting) {
    map_ = ReadMapfile(mapfilePath_, card.Size());
  }
  // The image has the card's length from the start; what is not read yet reads as zeros.
  if (image_.Size() < card.Size()) image_.SetSize(card.Size());
  WriteMapfile(0);
}

std::int64_t CardImageSaver::ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
  const std::int64_t n = card_.ReadAt(offset, buffer, count);
  if (n > 0) {
    try {
      image_.WriteAt(offset, buffer, n);
    } catch (const OutputFullError& full) {
      // The image's disk, which need not be the output folder's.
      throw FileError(full.path(), full.reason(), "The image holds what was read before; its mapfile says what.");
    }
    map_.Mark(offset, offset + n, RescueMap::kFinished);
  } else if (n == kReadFailed) {
    map_.MarkUnlessFinished(offset, offset + count,
                            count > sectorSize_ ? RescueMap::kNonTrimmed : RescueMap::kBadSector);
  }
  // A card gone from its reader says nothing of its sectors: they stay as they were.
  const std::int64_t reached = offset + std::max<std::int64_t>(n, 0);
  if (reached - mappedAt_ >= kMapfileInterval) WriteMapfile(reached);
  return n;
}

void CardImageSaver::Finish(std::int64_t position) {
  WriteMapfile(position);
  image_.Close();
}

void CardImageSaver::WriteMapfile(std::int64_t position) {
  // Replaced in one step: a run cut off leaves the map before or after, never half of it.
  PendingFile mapfile(mapfilePath_);
  const std::string text = map_.MapfileText(position);
  mapfile.Write(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::int64_t>(text.size()));
  mapfile.Commit();
  mappedAt_ = position;
}

}  // namespace mendrake
