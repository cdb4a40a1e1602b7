#include "recovery/RecoveryOutput.h"

#include "files/Utf8Path.h"

#include <algorithm>

namespace mendrake {
namespace {

// Bytes of each end that the digest of a written file covers: the directory
// at a CRW file's end differs from photo to photo, and the digest's only role
// is to find the one earlier file worth comparing in full.
constexpr std::size_t kDigestedEnd = 4096;

std::uint64_t Fnv1a(std::span<const std::uint8_t> bytes, std::uint64_t hash) {
  for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
  return hash;
}

std::pair<std::int64_t, std::uint64_t> DigestOf(std::span<const std::uint8_t> file) {
  const std::size_t end = std::min(file.size(), kDigestedEnd);
  std::uint64_t hash = Fnv1a(file.first(end), 0xCBF29CE484222325ull);
  hash = Fnv1a(file.last(end), hash);
  return {static_cast<std::int64_t>(file.size()), hash};
}

bool HoldsExactly(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::error_code error;
  return std::filesystem::is_regular_file(PathFromUtf8(path), error) &&
         NameIsFreeOrHolds(path, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

}  // namespace

std::string RecoveryOutput::RepeatOf(std::span<const std::uint8_t> file) const {
  const auto found = writtenByDigest_.find(DigestOf(file));
  if (found == writtenByDigest_.end()) return {};
  return HoldsExactly(Utf8Of(folder_ / PathFromUtf8(found->second + ".CRW")), file) ? found->second : std::string();
}

RecoveryOutput::Written RecoveryOutput::WriteCrw(const std::string& stem, const std::string& fallbackStem,
                                                 std::span<const std::uint8_t> file,
                                                 std::span<const std::uint8_t> thumbnail) {
  Written written;
  written.base = RepeatOf(file);
  if (!written.base.empty()) {
    written.repeated = true;
    return written;
  }
  PendingFile crw(Utf8Of(folder_ / PathFromUtf8(stem + ".CRW")));
  crw.Write(file.data(), static_cast<std::int64_t>(file.size()));
  written.base = PlacePair(crw, stem, thumbnail);
  if (written.base.empty() && fallbackStem != stem) written.base = PlacePair(crw, fallbackStem, thumbnail);
  if (written.base.empty()) return written;
  writtenByDigest_[DigestOf(file)] = written.base;
  if (!thumbnail.empty()) {
    PendingFile jpg(Utf8Of(folder_ / PathFromUtf8(written.base + ".jpg")));
    jpg.Write(thumbnail.data(), static_cast<std::int64_t>(thumbnail.size()));
    const std::string placed = names_.Place(jpg, jpg.path());
    if (!placed.empty()) lastThumbnail_ = placed;
  }
  return written;
}

// The first number of stem where the CRW file replaces nothing and where its
// thumbnail's name is free too (or holds the same thumbnail); should the
// thumbnail's name be taken by the time it is written, it goes under a free
// name of its own. Returns the CRW file's base name, or empty.
std::string RecoveryOutput::PlacePair(PendingFile& crw, const std::string& stem,
                                      std::span<const std::uint8_t> thumbnail) {
  const std::string crwPath = Utf8Of(folder_ / PathFromUtf8(stem + ".CRW"));
  const std::string jpgPath = Utf8Of(folder_ / PathFromUtf8(stem + ".jpg"));
  for (int n = names_.Next(crwPath); n <= kMaxFreeNameNumber; ++n) {
    names_.Took(crwPath, n);
    if (!thumbnail.empty() && !NameIsFreeOrHolds(NumberedName(jpgPath, n), thumbnail.data(),
                                                  static_cast<std::int64_t>(thumbnail.size()))) {
      continue;
    }
    if (crw.CommitWithoutReplacing(NumberedName(crwPath, n))) return NumberedName(stem, n);
  }
  return {};
}

std::string RecoveryOutput::WriteDamaged(const std::string& name, std::span<const std::uint8_t> bytes) {
  PendingFile piece(Utf8Of(folder_ / PathFromUtf8(name)));
  piece.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  const std::string placed = names_.Place(piece, piece.path());
  return placed.empty() ? placed : Utf8Of(PathFromUtf8(placed).filename());
}

}  // namespace mendrake
