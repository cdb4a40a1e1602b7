#include "recovery/RecoveryOutput.h"

#include "files/FileTimes.h"
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

// A photo's files carry the time it was shot, so that file managers and
// photo tools sort them as the camera took them; a file without one is dated now.
void Date(PendingFile& file, std::optional<std::int64_t> shotTime) {
  if (shotTime) file.SetModificationTime(SystemTimeOfLocalClock(*shotTime));
}

}  // namespace

std::string RecoveryOutput::RepeatOf(std::span<const std::uint8_t> file) const {
  const auto found = writtenByDigest_.find(DigestOf(file));
  if (found == writtenByDigest_.end()) return {};
  return HoldsExactly(Utf8Of(folder_ / PathFromUtf8(found->second + ".CRW")), file) ? found->second : std::string();
}

RecoveryOutput::Written RecoveryOutput::WriteCrw(const std::string& stem, const std::string& fallbackStem,
                                                 std::span<const std::uint8_t> file,
                                                 std::span<const std::uint8_t> thumbnail,
                                                 std::optional<std::int64_t> shotTime) {
  Written written;
  written.base = RepeatOf(file);
  if (!written.base.empty()) {
    written.repeated = true;
    return written;
  }
  PendingFile crw(Utf8Of(folder_ / PathFromUtf8(stem + ".CRW")));
  crw.Write(file.data(), static_cast<std::int64_t>(file.size()));
  Date(crw, shotTime);
  written.base = PlacePair(crw, stem, ".CRW", thumbnail);
  if (written.base.empty() && fallbackStem != stem) written.base = PlacePair(crw, fallbackStem, ".CRW", thumbnail);
  if (written.base.empty()) return written;
  writtenByDigest_[DigestOf(file)] = written.base;
  if (!thumbnail.empty()) {
    const std::string placed = PlaceCompanion(written.base, ".jpg", thumbnail, shotTime);
    if (!placed.empty()) lastThumbnail_ = placed;
  }
  return written;
}

std::string RecoveryOutput::PlaceCompanion(const std::string& base, const std::string& extension,
                                           std::span<const std::uint8_t> bytes,
                                           std::optional<std::int64_t> shotTime) {
  PendingFile companion(Utf8Of(folder_ / PathFromUtf8(base + extension)));
  companion.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  Date(companion, shotTime);
  return names_.Place(companion, companion.path());
}

// The first number of stem where the file replaces nothing and where its
// companion's name (the same stem with ".jpg") is free too (or holds the same
// bytes); should the companion's name be taken by the time it is written, it
// goes under a free name of its own. Returns the file's base name, or empty.
std::string RecoveryOutput::PlacePair(PendingFile& file, const std::string& stem, const std::string& extension,
                                      std::span<const std::uint8_t> companion) {
  const std::string filePath = Utf8Of(folder_ / PathFromUtf8(stem + extension));
  const std::string jpgPath = Utf8Of(folder_ / PathFromUtf8(stem + ".jpg"));
  for (int n = names_.Next(filePath); n <= kMaxFreeNameNumber; ++n) {
    names_.Took(filePath, n);
    if (!companion.empty() && !NameIsFreeOrHolds(NumberedName(jpgPath, n), companion.data(),
                                                  static_cast<std::int64_t>(companion.size()))) {
      continue;
    }
    if (file.CommitWithoutReplacing(NumberedName(filePath, n))) return NumberedName(stem, n);
  }
  return {};
}

RecoveryOutput::WrittenDamaged RecoveryOutput::WriteDamaged(const std::string& stem,
                                                            std::span<const std::uint8_t> bytes,
                                                            std::span<const std::uint8_t> jpeg) {
  PendingFile piece(Utf8Of(folder_ / PathFromUtf8(stem + ".damaged")));
  piece.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  WrittenDamaged written;
  const std::string base = PlacePair(piece, stem, ".damaged", jpeg);
  if (base.empty()) return written;
  written.name = base + ".damaged";
  if (!jpeg.empty()) {
    const std::string placed = PlaceCompanion(base, ".jpg", jpeg, std::nullopt);
    if (!placed.empty()) written.jpeg = Utf8Of(PathFromUtf8(placed).filename());
  }
  return written;
}

std::string RecoveryOutput::WriteThm(const std::string& name, std::span<const std::uint8_t> bytes,
                                     std::int64_t shotTime) {
  PendingFile thm(Utf8Of(folder_ / PathFromUtf8(name)));
  thm.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  Date(thm, shotTime);
  const std::string placed = names_.Place(thm, thm.path());
  return placed.empty() ? placed : Utf8Of(PathFromUtf8(placed).filename());
}

}  // namespace mendrake
