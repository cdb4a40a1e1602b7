#pragma once

#include "recovery/ThmFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mendrake {

// A CRW file written, as its THM is matched with it.
struct PhotoShot {
  std::optional<std::int64_t> shotTime;  // none: no THM can be matched with it
  std::uint32_t fileNumber = 0;          // 0: none
  std::string stem;                      // the name the camera gave it, without ".CRW"; empty: none
};

// What became of one THM.
struct ThmMatch {
  enum class Kind { kMatched, kNoPhoto, kTied } kind = Kind::kNoPhoto;
  int photo = -1;          // kMatched: the index of its photo
  std::vector<int> tied;   // kTied: the photos of its second it could belong to
};

// Matches each THM with the photo of its shot time (to the second). Photos of
// one second (a burst) are told apart by evidence alone: the file number in
// the THM's maker note against the CRW file's own, or the THM's name in the
// card's directory against the name the camera gave the photo. Where neither
// decides, nothing is guessed: the THMs of that second are kTied. A THM whose
// file number differs from every photo of its second has no photo.
std::vector<ThmMatch> MatchThms(const std::vector<PhotoShot>& photos, const std::vector<ThmFile>& thms);

}  // namespace mendrake
