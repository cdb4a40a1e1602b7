#include "recovery/RescueMap.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace mendrake {
namespace {

bool IsStatus(char c) { return c == '?' || c == '*' || c == '/' || c == '-' || c == '+'; }

// One line without its comment ('#' at a line's start or after white space)
// split into words.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    if (at >= line.size() || line[at] == '#') break;
    const std::size_t end = line.find_first_of(" \t\r", at);
    words.emplace_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    at = end == std::string_view::npos ? line.size() : end;
  }
  return words;
}

// An integer as C++ writes one: decimal, 0x hexadecimal or 0 octal.
bool ParseInteger(const std::string& word, std::int64_t& value) {
  if (word.empty() || word[0] == '-' || word[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(word.c_str(), &end, 0);
  if (errno != 0 || end != word.c_str() + word.size()) return false;
  value = parsed;
  return true;
}

std::string Hex(std::int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIX64, static_cast<std::uint64_t>(value));
  return text;
}

}  // namespace

RescueMap::RescueMap(std::int64_t size) : size_(size) {
  if (size_ > 0) areas_.push_back({0, size_, kNonTried});
}

std::size_t RescueMap::SplitAt(std::int64_t position) {
  auto after = std::upper_bound(areas_.begin(), areas_.end(), position,
                                [](std::int64_t at, const Area& area) { return at < area.position; });
  std::size_t index = static_cast<std::size_t>(after - areas_.begin()) - 1;
  Area& area = areas_[index];
  if (area.position == position) return index;
  const Area tail{position, area.position + area.size - position, area.status};
  area.size = position - area.position;
  areas_.insert(areas_.begin() + static_cast<std::ptrdiff_t>(index) + 1, tail);
  return index + 1;
}

void RescueMap::Mark(std::int64_t from, std::int64_t to, Status status) {
  from = std::max<std::int64_t>(from, 0);
  to = std::min(to, size_);
  if (from >= to) return;
  std::size_t first = SplitAt(from);
  const std::size_t last = to < size_ ? SplitAt(to) : areas_.size();
  areas_[first] = {from, to - from, status};
  areas_.erase(areas_.begin() + static_cast<std::ptrdiff_t>(first) + 1, areas_.begin() + static_cast<std::ptrdiff_t>(last));
  // Neighbours of one status are one area.
  if (first + 1 < areas_.size() && areas_[first + 1].status == status) {
    areas_[first].size += areas_[first + 1].size;
    areas_.erase(areas_.begin() + static_cast<std::ptrdiff_t>(first) + 1);
  }
  if (first > 0 && areas_[first - 1].status == status) {
    areas_[first - 1].size += areas_[first].size;
    areas_.erase(areas_.begin() + static_cast<std::ptrdiff_t>(first));
  }
}

void RescueMap::MarkUnlessFinished(std::int64_t from, std::int64_t to, Status status) {
  std::vector<std::pair<std::int64_t, std::int64_t>> open;
  for (const Area& area : areas_) {
    const std::int64_t start = std::max(from, area.position);
    const std::int64_t end = std::min(to, area.position + area.size);
    if (start < end && area.status != kFinished) open.emplace_back(start, end);
  }
  for (const auto& [start, end] : open) Mark(start, end, status);
}

std::int64_t RescueMap::Bytes(Status status) const {
  std::int64_t bytes = 0;
  for (const Area& area : areas_) bytes += area.status == status ? area.size : 0;
  return bytes;
}

std::string RescueMap::MapfileText(std::int64_t position) const {
  // Reading resumes at position in ddrescue's first pass over the areas not tried.
  std::string text =
      "# Mapfile. Created by Mendrake while recovering photos from the card\n"
      "# current_pos  current_status  current_pass\n" +
      Hex(position) + "     ?               1\n" +
      "#      pos        size  status\n";
  for (const Area& area : areas_) text += Hex(area.position) + "  " + Hex(area.size) + "  " + area.status + "\n";
  return text;
}

bool RescueMap::Parse(std::string_view text, std::int64_t size, RescueMap& map, std::string& why) {
  RescueMap parsed(size);
  bool statusLineSeen = false;
  std::int64_t next = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::vector<std::string> words = Words(text.substr(at, end - at));
    at = end + 1;
    if (words.empty()) continue;
    std::int64_t position = 0;
    std::int64_t length = 0;
    if (!statusLineSeen) {
      // Before ddrescue 1.20 the status line had no pass.
      if (words.size() < 2 || words.size() > 3 || !ParseInteger(words[0], position) || words[1].size() != 1) {
        why = "its status line is not \"current_pos current_status current_pass\"";
        return false;
      }
      statusLineSeen = true;
      continue;
    }
    if (words.size() != 3 || !ParseInteger(words[0], position) || !ParseInteger(words[1], length) ||
        words[2].size() != 1 || !IsStatus(words[2][0])) {
      why = "a line is not \"pos size status\"";
      return false;
    }
    if (position != next || length <= 0) {
      why = "its areas do not follow one another from the card's start";
      return false;
    }
    // position is the end of the areas before it, so no more than size: no overflow.
    if (length > size - position) {
      why = "it describes a larger card than this one";
      return false;
    }
    parsed.Mark(position, position + length, static_cast<Status>(words[2][0]));
    next = position + length;
  }
  if (!statusLineSeen) {
    why = "it has no status line";
    return false;
  }
  map = std::move(parsed);
  return true;
}

}  // namespace mendrake
