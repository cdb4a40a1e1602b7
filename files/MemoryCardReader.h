#pragma once

#include "files/CardReader.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

namespace mendrake {

// A card held in memory, for fuzzing and tests: the bytes are not copied and
// must outlive the reader. Never fails.
class MemoryCardReader final : public CardReader {
 public:
  explicit MemoryCardReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  // A temporary vector would be gone before the first read.
  explicit MemoryCardReader(std::vector<std::uint8_t>&&) = delete;
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override {
    if (offset < 0 || count < 0) return -1;
    const std::int64_t n = std::clamp<std::int64_t>(Size() - offset, 0, count);
    if (n > 0) std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace mendrake
