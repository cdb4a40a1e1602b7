#include "recovery/ThmScan.h"

#include <algorithm>

namespace mendrake {

void ThmScan::Take(std::span<const std::uint8_t> bytes, std::int64_t position) {
  // Past the bound a THM is counted without being decoded: a crafted card of
  // THM-like sectors costs no more decodes than the bound allows.
  if (held_.size() >= ThmScanLimits::kMaxThmsHeld) {
    ++notHeld_;
    return;
  }
  std::optional<ThmFile> thm = ReadThm(bytes, position);
  if (!thm) return;
  if (bytesHeld_ + thm->bytes.size() > ThmScanLimits::kMaxBytesHeld) {
    ++notHeld_;
    return;
  }
  bytesHeld_ += thm->bytes.size();
  held_.push_back(std::move(*thm));
}

void ThmScan::Finish() {
  for (const Partial& partial : partial_) Take(partial.bytes, partial.position);
  partial_.clear();
}

namespace {

// Each sector start at which a THM may begin among the count bytes at start.
template <typename Visit>
void VisitSectorStarts(std::int64_t start, std::int64_t count, Visit visit) {
  const std::int64_t first = (start + ThmScanLimits::kSectorSize - 1) / ThmScanLimits::kSectorSize *
                             ThmScanLimits::kSectorSize;
  for (std::int64_t at = first; at + 12 <= start + count; at += ThmScanLimits::kSectorSize) {
    if (!visit(at)) return;
  }
}

}  // namespace

bool ThmScan::AnyStartLikeThm(const std::uint8_t* bytes, std::int64_t start, std::int64_t count) {
  bool any = false;
  VisitSectorStarts(start, count, [&](std::int64_t at) {
    // Every sector of the card comes here: a JPEG's first byte alone turns
    // away all but one in 256 of random bytes.
    any = bytes[at - start] == 0xFF &&
          StartsLikeThm(std::span(bytes + (at - start), static_cast<std::size_t>(start + count - at)));
    return !any;
  });
  return any;
}

void ThmScan::Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t count) {
  const auto wanted = static_cast<std::int64_t>(ThmLimits::kMaxThmSize);
  // Those the last block cut off go on in this one when it follows on.
  std::vector<Partial> waiting;
  waiting.swap(partial_);
  for (Partial& partial : waiting) {
    if (start == end_) {
      const std::int64_t more = std::min(count, wanted - static_cast<std::int64_t>(partial.bytes.size()));
      partial.bytes.insert(partial.bytes.end(), bytes, bytes + more);
      if (static_cast<std::int64_t>(partial.bytes.size()) < wanted && more == count) {
        partial_.push_back(std::move(partial));
        continue;
      }
    }
    // What follows is elsewhere: the THM is what was read of it.
    Take(partial.bytes, partial.position);
  }
  end_ = start + count;
  VisitSectorStarts(start, count, [&](std::int64_t at) {
    const std::span<const std::uint8_t> from(bytes + (at - start), static_cast<std::size_t>(start + count - at));
    if (bytes[at - start] != 0xFF || !StartsLikeThm(from) || (skip_ && skip_(at))) return true;
    if (static_cast<std::int64_t>(from.size()) >= wanted) {
      Take(from.first(static_cast<std::size_t>(wanted)), at);
    } else {
      partial_.push_back({at, std::vector<std::uint8_t>(from.begin(), from.end())});
    }
    return true;
  });
}

}  // namespace mendrake
