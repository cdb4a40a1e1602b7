#pragma once

#include "files/PositionedFile.h"
#include "files/CardReader.h"
#include "recovery/RescueMap.h"

#include <cstdint>
#include <string>

namespace mendrake {

// The mapfile that goes with an image: its name with ".map" added.
std::string MapfileOf(const std::string& imagePath);

// Reads a card and keeps every byte read in an image file at its place on
// the card, so that a failing card is read once: sectors that cannot be read
// stay holes, and a GNU ddrescue mapfile beside the image says which areas
// hold the card's bytes, which could not be read and which were not tried.
// "ddrescue -r3 CARD IMAGE IMAGE.map" then goes back for the areas not
// rescued, and recovery can run again from the image. Used by one reading
// thread at a time.
class CardImageSaver final : public CardReader {
 public:
  // How often the mapfile is written while the card is read: a run cut off
  // (the program killed, the computer off) loses at most this much of the
  // map, and ddrescue reads those areas again as not tried.
  static constexpr std::int64_t kMapfileInterval = std::int64_t{64} << 20;

  // A new image, refused (FileError) when a file of its name exists; with
  // fillExisting the image made by an earlier run and its mapfile, to be
  // filled further, or a new one where there is none. sectorSize is the
  // unit in which a failed read is read again.
  CardImageSaver(CardReader& card, const std::string& imagePath, bool fillExisting, std::int64_t sectorSize);

  std::int64_t Size() const override { return card_.Size(); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override;
  bool SystemReadsAhead() const override { return card_.SystemReadsAhead(); }

  // Writes the mapfile, with position as where reading stands, and closes
  // the image. Throws FileError when either cannot be written.
  void Finish(std::int64_t position);

  const RescueMap& Map() const { return map_; }
  const std::string& ImagePath() const { return image_.path(); }
  const std::string& MapfilePath() const { return mapfilePath_; }

 private:
  void WriteMapfile(std::int64_t position);

  CardReader& card_;
  const std::string mapfilePath_;
  const std::int64_t sectorSize_;
  PositionedFile image_;
  RescueMap map_;
  std::int64_t mappedAt_ = 0;  // where reading stood when the mapfile was last written
};

}  // namespace mendrake
