#pragma once

#include "analysis/FileImage.h"
#include "files/LargeBuffer.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace mendrake {

// The card's last bytes, kept in the blocks they were read in, so that a
// second piece can be copied out when its end streams past without reading
// the card again. Blocks that end more than keep bytes before the newest byte
// are dropped, so the memory held stays under keep plus one block.
class RecentBytes {
 public:
  explicit RecentBytes(std::int64_t keep) : keep_(keep) {}

  // The block of length bytes at start; one that does not follow the last
  // starts the record anew.
  void Add(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);
  void Clear();
  std::int64_t Start() const { return blocks_.empty() ? 0 : blocks_.front().start; }
  std::int64_t End() const { return blocks_.empty() ? 0 : blocks_.back().start + Size(blocks_.back()); }

  // Appends the card bytes [from, to) to into; false when they are not all held.
  bool CopyTo(std::int64_t from, std::int64_t to, FileImage& into) const;

  // Calls visit(bytes, length, base, first, last) over stretches of held bytes
  // (bytes[0] at card position base) such that the positions [first, last)
  // of each cover [from, to) once, and each stretch holds at least lookahead
  // bytes past last where the card has them: a reader of a few bytes from
  // each position sees them whole, also across two blocks.
  using Visitor = std::function<void(const std::uint8_t*, std::int64_t, std::int64_t, std::int64_t, std::int64_t)>;
  void Visit(std::int64_t from, std::int64_t to, std::int64_t lookahead, const Visitor& visit) const;

 private:
  // A block's room is mapped in huge pages: a card's first 64 MiB held fault
  // in every 4 KiB page otherwise, which costs as much as the scan itself.
  using Room = std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>>;
  struct Block {
    std::int64_t start;
    Room bytes;
  };
  static std::int64_t Size(const Block& block) { return static_cast<std::int64_t>(block.bytes.size()); }

  std::int64_t keep_;
  std::deque<Block> blocks_;
  std::vector<Room> spare_;  // the room of dropped blocks
};

}  // namespace mendrake
