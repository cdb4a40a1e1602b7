#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mendrake {

// The small JPEG a camera writes beside each CRW file (CRW_1234.THM): 160x120
// pixels with EXIF data, which holds when the photo was taken and, in
// Canon's maker note, the photo's file number.
struct ThmFile {
  std::int64_t position = 0;   // on the card
  std::vector<std::uint8_t> bytes;
  std::int64_t shotTime = 0;   // EXIF DateTimeOriginal, wall clock (ShotTime.h)
  std::uint32_t fileNumber = 0;  // 0: its maker note names none
  // The stem the card's directory entry gives it ("CRW_1234" of
  // "CRW_1234.THM"; "?RW_1234" when a deletion took its first letter); empty
  // when no entry names it.
  std::string directoryStem;
};

struct ThmLimits {
  // A THM of 160x120 pixels with its EXIF data takes 5 to 15 KB; a JPEG that
  // runs on past this is no THM.
  static constexpr std::size_t kMaxThmSize = 64 * 1024;
  static constexpr int kWidth = 160;
  static constexpr int kHeight = 120;
};

// Whether bytes begin the way a THM does: a start-of-image marker followed at
// once by an EXIF segment. The first 12 bytes decide.
bool StartsLikeThm(std::span<const std::uint8_t> bytes);

// The THM file at the start of bytes: a JPEG whose structure ends within
// ThmLimits::kMaxThmSize bytes, 160x120, decoding whole, with a readable
// DateTimeOriginal. None otherwise.
std::optional<ThmFile> ReadThm(std::span<const std::uint8_t> bytes, std::int64_t position);

}  // namespace mendrake
