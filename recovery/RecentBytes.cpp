#include "recovery/RecentBytes.h"

#include "recovery/RecoveryLimits.h"

#include <algorithm>

namespace mendrake {

void RecentBytes::Add(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  if (!blocks_.empty() && End() != start) Clear();
  // A dropped block's room is taken again: fresh room for every block read
  // cost as much in page faults as the copy itself.
  Block block{start, {}};
  if (!spare_.empty()) {
    block.bytes.swap(spare_.back());
    spare_.pop_back();
  }
  block.bytes.assign(bytes, bytes + length);
  blocks_.push_back(std::move(block));
  while (!blocks_.empty() && blocks_.front().start + Size(blocks_.front()) <= End() - keep_) {
    spare_.push_back(std::move(blocks_.front().bytes));
    blocks_.pop_front();
  }
}

void RecentBytes::Clear() {
  for (Block& block : blocks_) spare_.push_back(std::move(block.bytes));
  blocks_.clear();
  // The room of one full record stays; a card's blocks are of one size.
  const std::size_t kept = static_cast<std::size_t>(keep_ / RecoveryLimits::kReadSize + 2);
  if (spare_.size() > kept) spare_.resize(kept);
}

bool RecentBytes::CopyTo(std::int64_t from, std::int64_t to, FileImage& into) const {
  if (from < Start() || to > End()) return false;
  for (const Block& block : blocks_) {
    const std::int64_t begin = std::max(from, block.start);
    const std::int64_t end = std::min(to, block.start + Size(block));
    if (begin < end) into.Append(block.bytes.data() + (begin - block.start), end - begin);
  }
  return true;
}

void RecentBytes::Visit(std::int64_t from, std::int64_t to, std::int64_t lookahead, const Visitor& visit) const {
  std::vector<std::uint8_t> seam;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    const Block& block = blocks_[i];
    const std::int64_t blockEnd = block.start + Size(block);
    const bool last = i + 1 == blocks_.size();
    // Positions whose lookahead lies within the block are read in place.
    const std::int64_t inPlace = last ? blockEnd : std::max(block.start, blockEnd - lookahead);
    const std::int64_t first = std::max(from, block.start);
    const std::int64_t until = std::min(to, inPlace);
    if (first < until) visit(block.bytes.data(), Size(block), block.start, first, until);
    if (last) break;
    // The seam: the block's last bytes followed by the next block's first.
    const std::int64_t seamFirst = std::max(from, inPlace);
    const std::int64_t seamUntil = std::min(to, blockEnd);
    if (seamFirst >= seamUntil) continue;
    const Block& next = blocks_[i + 1];
    seam.assign(block.bytes.begin() + (inPlace - block.start), block.bytes.end());
    seam.insert(seam.end(), next.bytes.begin(), next.bytes.begin() + std::min(lookahead, Size(next)));
    visit(seam.data(), static_cast<std::int64_t>(seam.size()), inPlace, seamFirst, seamUntil);
  }
}

}  // namespace mendrake
