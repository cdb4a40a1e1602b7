#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendrake {

// What has been read of a card into its image, area by area, in the mapfile
// format of GNU ddrescue: comment lines, the status line "current_pos
// current_status current_pass", then one line "pos size status" per area,
// the areas contiguous from 0 to the card's end. ddrescue, given the card,
// the image and this map, reads again only the areas not rescued.
class RescueMap {
 public:
  // An area's status, as ddrescue writes it.
  enum Status : char {
    kNonTried = '?',
    kNonTrimmed = '*',  // a read of several sectors failed; not yet tried sector by sector
    kNonScraped = '/',  // left by ddrescue between trimming and scraping
    kBadSector = '-',   // a sector read failed
    kFinished = '+',    // its bytes are in the image
  };
  struct Area {
    std::int64_t position = 0;
    std::int64_t size = 0;
    char status = kNonTried;
    bool operator==(const Area&) const = default;
  };

  // A card of size bytes, none of them tried.
  explicit RescueMap(std::int64_t size);

  // Gives [from, to) the status; the part past the card's end is ignored.
  void Mark(std::int64_t from, std::int64_t to, Status status);
  // The same, except over areas already finished: bytes an earlier read put
  // in the image stay there when a later read of them fails.
  void MarkUnlessFinished(std::int64_t from, std::int64_t to, Status status);
  const std::vector<Area>& Areas() const { return areas_; }
  std::int64_t Size() const { return size_; }
  // Bytes of the card with the status.
  std::int64_t Bytes(Status status) const;

  // The mapfile's text; position is where reading stands (the status line's
  // current_pos).
  std::string MapfileText(std::int64_t position) const;
  // The map a mapfile gives for a card of size bytes; areas past its end in
  // the file are taken as not tried. Returns false, with why, when the text
  // is not a mapfile or describes a larger card.
  static bool Parse(std::string_view text, std::int64_t size, RescueMap& map, std::string& why);

 private:
  // The index of the area holding position, after splitting an area that
  // begins before it.
  std::size_t SplitAt(std::int64_t position);

  std::int64_t size_;
  std::vector<Area> areas_;
};

}  // namespace mendrake
