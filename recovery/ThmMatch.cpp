#include "recovery/ThmMatch.h"

#include <algorithm>
#include <map>

namespace mendrake {
namespace {

// The photos and THMs of one second, by their indices.
struct Second {
  std::vector<int> photos;
  std::vector<int> thms;
};

// A directory's stem names the photo's when they agree letter for letter, a
// first letter lost to a deletion ('?') agreeing with any.
bool StemsAgree(const std::string& directory, const std::string& photo) {
  if (directory.empty() || directory.size() != photo.size()) return false;
  return (directory[0] == '?' || directory[0] == photo[0]) && directory.compare(1, std::string::npos, photo, 1) == 0;
}

void MatchSecond(const Second& second, const std::vector<PhotoShot>& photos, const std::vector<ThmFile>& thms,
                 std::vector<ThmMatch>& matches) {
  std::vector<int> photosLeft = second.photos;
  std::vector<int> thmsLeft;
  // A file number that both carry decides, or a name.
  for (const int thm : second.thms) {
    const ThmFile& file = thms[static_cast<std::size_t>(thm)];
    std::vector<int> same;
    for (const int photo : photosLeft) {
      const PhotoShot& shot = photos[static_cast<std::size_t>(photo)];
      if ((file.fileNumber != 0 && shot.fileNumber == file.fileNumber) || StemsAgree(file.directoryStem, shot.stem)) {
        same.push_back(photo);
      }
    }
    if (same.size() == 1) {
      matches[static_cast<std::size_t>(thm)] = {ThmMatch::Kind::kMatched, same.front(), {}};
      photosLeft.erase(std::find(photosLeft.begin(), photosLeft.end(), same.front()));
    } else {
      thmsLeft.push_back(thm);
    }
  }
  // A THM whose number differs from that of every photo left belongs to none of them.
  std::erase_if(thmsLeft, [&](int thm) {
    const std::uint32_t number = thms[static_cast<std::size_t>(thm)].fileNumber;
    return number != 0 && !photosLeft.empty() && std::all_of(photosLeft.begin(), photosLeft.end(), [&](int photo) {
             const std::uint32_t own = photos[static_cast<std::size_t>(photo)].fileNumber;
             return own != 0 && own != number;
           });
  });
  if (thmsLeft.size() == 1 && photosLeft.size() == 1) {
    matches[static_cast<std::size_t>(thmsLeft.front())] = {ThmMatch::Kind::kMatched, photosLeft.front(), {}};
  } else if (!photosLeft.empty()) {
    for (const int thm : thmsLeft) matches[static_cast<std::size_t>(thm)] = {ThmMatch::Kind::kTied, -1, photosLeft};
  }
}

}  // namespace

std::vector<ThmMatch> MatchThms(const std::vector<PhotoShot>& photos, const std::vector<ThmFile>& thms) {
  std::vector<ThmMatch> matches(thms.size());
  std::map<std::int64_t, Second> seconds;
  for (std::size_t i = 0; i < photos.size(); ++i) {
    if (photos[i].shotTime) seconds[*photos[i].shotTime].photos.push_back(static_cast<int>(i));
  }
  for (std::size_t i = 0; i < thms.size(); ++i) {
    const auto found = seconds.find(thms[i].shotTime);
    if (found != seconds.end()) found->second.thms.push_back(static_cast<int>(i));
  }
  for (const auto& [time, second] : seconds) MatchSecond(second, photos, thms, matches);
  return matches;
}

}  // namespace mendrake
