#pragma once

#include "files/FreeNames.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace mendrake {

// The folder a card scan writes into: recovered CRW files with their
// thumbnails, and damaged pieces. Nothing in it is ever replaced; names come
// from a counter per name (FreeNames.h), so a card of thousands of photos of
// one name costs no more per photo than a card of different names.
class RecoveryOutput {
 public:
  explicit RecoveryOutput(std::filesystem::path folder) : folder_(std::move(folder)) {}

  struct Written {
    std::string base;       // the CRW file's name without ".CRW"; empty when not written
    bool repeated = false;  // the same bytes as a file this scan wrote before, kept once
  };

  // Writes a recovered file as "stem.CRW" (or "stem (n).CRW") and its
  // thumbnail, when it has one, as the same name with ".jpg", so that the pair
  // keeps one name. When the names of stem have run out, the pair goes under
  // fallbackStem (a name of the file's place on the card) instead; when those
  // have run out too, nothing is written and the base is empty. Both files
  // are dated to shotTime (the camera's clock, CrwRecords.h) when it is
  // known, else to now. Throws FileError when the folder fails.
  Written WriteCrw(const std::string& stem, const std::string& fallbackStem, std::span<const std::uint8_t> file,
                   std::span<const std::uint8_t> thumbnail, std::optional<std::int64_t> shotTime = {});

  // Writes a damaged piece as "stem.damaged" (or "stem (n).damaged") and, when
  // it is given, the JPEG found whole in it as the same name with ".jpg".
  // Returns the names taken (file names, without the folder); empty when the
  // names of stem have run out. Throws FileError.
  struct WrittenDamaged {
    std::string name;
    std::string jpeg;  // empty when none was given or its name was taken
  };
  WrittenDamaged WriteDamaged(const std::string& stem, std::span<const std::uint8_t> bytes,
                              std::span<const std::uint8_t> jpeg = {});

  // Writes a THM file under name (or "name (n)") dated to shotTime and
  // returns the file name taken, or empty when its names have run out.
  std::string WriteThm(const std::string& name, std::span<const std::uint8_t> bytes, std::int64_t shotTime);

  const std::filesystem::path& Folder() const { return folder_; }

  // The thumbnail written last, for a preview; empty when none was.
  const std::string& LastThumbnail() const { return lastThumbnail_; }

 private:
  std::string PlacePair(PendingFile& file, const std::string& stem, const std::string& extension,
                        std::span<const std::uint8_t> companion);
  // Writes a file beside one placed as base: base plus extension, or a free name of its own.
  std::string PlaceCompanion(const std::string& base, const std::string& extension,
                             std::span<const std::uint8_t> bytes, std::optional<std::int64_t> shotTime);
  std::string RepeatOf(std::span<const std::uint8_t> file) const;

  std::filesystem::path folder_;
  FreeNames names_;
  std::string lastThumbnail_;
  // The files written so far by their length and a digest of their first and
  // last bytes: a photo found twice on one card is compared with the one
  // file it may repeat, not with every name it could have had.
  std::map<std::pair<std::int64_t, std::uint64_t>, std::string> writtenByDigest_;
};

}  // namespace mendrake
