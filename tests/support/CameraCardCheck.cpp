#include "tests/support/CameraCardCheck.h"

#include "files/MemoryCardReader.h"
#include "files/Utf8Path.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string_view>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 512;

// Later writes and the last format may have taken some of a photo's clusters.
bool StillWhole(const CameraCardPhoto& photo, const Bytes& image) {
  std::size_t from = 0;
  for (const auto& [start, end] : photo.runs) {
    const std::size_t count = std::min(static_cast<std::size_t>(end - start), photo.bytes.size() - from);
    if (!std::equal(photo.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    photo.bytes.begin() + static_cast<std::ptrdiff_t>(from + count),
                    image.begin() + static_cast<std::ptrdiff_t>(start))) {
      return false;
    }
    from += count;
  }
  return from == photo.bytes.size();
}

std::string LineNaming(const LogLines& log, const std::string& name) {
  for (const std::string& line : log.Lines()) {
    if (line.find(": " + name + ",") != std::string::npos) return line;
  }
  return "(no line names it)";
}

std::size_t Matching(const Bytes& file, std::size_t at, const Bytes& image, std::size_t cardAt) {
  std::size_t length = 0;
  while (at + length < file.size() && cardAt + length < image.size() && file[at + length] == image[cardAt + length]) {
    ++length;
  }
  return length;
}

// The photo that left the card bytes from cardAt on, and how many of them
// (up to length) are its own: none when no photo's clusters hold them as
// they are (a THM, a JPG, or a photo's since overwritten).
std::pair<std::string, std::size_t> OwnerAt(const CameraCard& card, std::size_t cardAt, std::size_t length) {
  for (const CameraCardPhoto& photo : card.photos) {
    std::size_t from = 0;
    for (const auto& [start, end] : photo.runs) {
      const auto begin = static_cast<std::size_t>(start);
      const auto stop = static_cast<std::size_t>(end);
      const std::size_t offset = from + cardAt - begin;
      from += stop - begin;
      if (cardAt < begin || cardAt >= stop || offset >= photo.bytes.size()) continue;
      const std::size_t count = std::min({length, stop - cardAt, photo.bytes.size() - offset});
      const auto own = photo.bytes.begin() + static_cast<std::ptrdiff_t>(offset);
      const std::size_t same = static_cast<std::size_t>(
          std::mismatch(own, own + static_cast<std::ptrdiff_t>(count), card.image.begin() + static_cast<std::ptrdiff_t>(cardAt)).first - own);
      if (same == count || same >= kSector) {
        return {photo.name + " " + std::to_string(offset) + "-" + std::to_string(offset + same), same};
      }
    }
  }
  return {"", 0};
}

// The photos whose bytes a stretch of the card is, in order.
std::string OwnersOf(const CameraCard& card, std::size_t cardAt, std::size_t length) {
  std::string owners;
  std::size_t unowned = 0;
  for (std::size_t at = cardAt; at < cardAt + length;) {
    const auto [owner, count] = OwnerAt(card, at, cardAt + length - at);
    if (count == 0) {
      const std::size_t step = std::min(cardAt + length - at, kSector - at % kSector);
      unowned += step;
      at += step;
      continue;
    }
    if (unowned > 0) owners += (owners.empty() ? "" : ", ") + std::to_string(unowned) + " bytes of no photo";
    unowned = 0;
    owners += (owners.empty() ? "" : ", ") + owner;
    at += count;
  }
  if (unowned > 0) owners += (owners.empty() ? "" : ", ") + std::to_string(unowned) + " bytes of no photo";
  return owners;
}

}  // namespace

CameraCardCheck RecoverAndCheckCameraCard(const CameraCard& card, const std::string& folder) {
  CameraCardCheck check;
  MemoryCardReader reader(card.image);
  check.summary = RecoverCard(reader, folder, check.log);

  std::map<Bytes, const CameraCardPhoto*> shot;
  for (const CameraCardPhoto& photo : card.photos) shot.emplace(photo.bytes, &photo);
  std::map<const CameraCardPhoto*, bool> back;
  for (const fs::directory_entry& entry : fs::directory_iterator(PathFromUtf8(folder))) {
    if (entry.path().extension() != ".CRW") continue;
    const Bytes bytes = ReadFile(Utf8Of(entry.path()));
    const auto found = shot.find(bytes);
    if (found == shot.end()) {
      const std::string name = Utf8Of(entry.path().filename());
      check.wrong.push_back({name, LineNaming(check.log, name)});
    } else {
      back[found->second] = true;
    }
  }
  for (const CameraCardPhoto& photo : card.photos) {
    if (photo.pieces > 2 || !StillWhole(photo, card.image)) continue;
    if (photo.pieces == 1) {
      ++check.wholeInOnePiece;
      if (!back.count(&photo)) check.missed.push_back(photo.name);
    } else {
      ++check.wholeInTwoPieces;
      if (back.count(&photo)) ++check.backInTwoPieces;
    }
  }
  return check;
}

std::string DescribeCameraCard(const CameraCardOptions& options) {
  const auto size = [](std::int64_t bytes) {
    return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
           : bytes % 1024 == 0    ? std::to_string(bytes >> 10) + " KiB"
                                  : std::to_string(bytes) + " B";
  };
  return std::string(options.fat32 ? "FAT32" : "FAT16") + ", " + (options.nextFree ? "next free" : "first fit") +
         ", " + size(options.clusterSize) + " clusters, " + size(options.size) + ", " + std::to_string(options.rounds) +
         " rounds of " + std::to_string(options.shotsPerRound) + " shots, " + std::to_string(options.deletePercent) +
         "% deleted in the camera, " + std::to_string(options.jpgPercent) + "% with a JPG, " +
         (options.quickFormat ? "quick format" : "deleted on a computer") + ", sensor " +
         std::to_string(options.width) + "x" + std::to_string(options.height) + ", seed " +
         std::to_string(options.seed);
}

std::string WhatTheFileIsMadeOf(const Bytes& file, const CameraCard& card) {
  std::string made;
  std::size_t at = 0;
  while (at < file.size()) {
    // Pieces start on the card's sectors: the longest run of card bytes from one.
    std::size_t best = 0, bestAt = 0;
    for (std::size_t cardAt = 0; cardAt < card.image.size(); cardAt += kSector) {
      if (card.image[cardAt] != file[at]) continue;
      const std::size_t length = Matching(file, at, card.image, cardAt);
      if (length > best) best = length, bestAt = cardAt;
    }
    if (!made.empty()) made += "; ";
    if (best == 0) {
      const std::size_t next = std::min(file.size(), (at / kSector + 1) * kSector);
      made += "bytes " + std::to_string(at) + "-" + std::to_string(next) + ": on no sector of the card";
      at = next;
      continue;
    }
    made += "bytes " + std::to_string(at) + "-" + std::to_string(at + best) + ": card " + std::to_string(bestAt) + "-" +
            std::to_string(bestAt + best) + " (" + OwnersOf(card, bestAt, best) + ")";
    // A difference within a sector may match by chance up to a few bytes past the seam.
    const std::size_t seam = (at + best) / kSector * kSector;
    at = seam > at && at + best < file.size() ? seam : at + best;
  }
  return made;
}

}  // namespace mendrake::testing
