#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "recovery/RescueMap.h"

#include <string>
#include <string_view>

namespace mendrake::fuzz {

void ParseMapfileBytes(const std::uint8_t* data, std::size_t size) {
  // A card of a few sizes around what mapfiles tend to name.
  for (const std::int64_t cardSize : {std::int64_t{0}, std::int64_t{4096}, std::int64_t{1} << 32}) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RescueMap map(cardSize);
    std::string why;
    if (!RescueMap::Parse(text, cardSize, map, why)) {
      if (why.empty()) Broken("a mapfile refused without a reason");
      continue;
    }
    std::int64_t next = 0;
    for (const RescueMap::Area& area : map.Areas()) {
      if (area.position != next || area.size <= 0) Broken("areas that do not follow one another");
      next += area.size;
    }
    if (next != cardSize) Broken("areas that do not cover the card");
    // What it writes, it reads back as it was.
    RescueMap again(cardSize);
    if (!RescueMap::Parse(map.MapfileText(0), cardSize, again, why) || again.Areas() != map.Areas()) {
      Broken("a mapfile that does not read back as written");
    }
  }
}

}  // namespace mendrake::fuzz
