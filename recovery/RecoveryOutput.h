#pragma once

#include "files/FreeNames.h"

#include <cstdint>
#include <filesystem>
#include <map>
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
  // have run out too, nothing is written and the base is empty. Throws
  // FileError when the folder fails.
  Written WriteCrw(const std::string& stem, const std::string& fallbackStem, std::span<const std::uint8_t> file,
                   std::span<const std::uint8_t> thumbnail);

  // Writes a damaged piece under name (or "name (n)") and returns the name
  // taken, or an empty name when its names have run out. Throws FileError.
  std::string WriteDamaged(const std::string& name, std::span<const std::uint8_t> bytes);

  const std::filesystem::path& Folder() const { return folder_; }

  // The thumbnail written last, for a preview; empty when none was.
  const std::string& LastThumbnail() const { return lastThumbnail_; }

 private:
  std::string PlacePair(PendingFile& crw, const std::string& stem, std::span<const std::uint8_t> thumbnail);
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
