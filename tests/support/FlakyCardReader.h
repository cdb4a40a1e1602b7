#pragma once

#include "files/CardReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace mendrake::testing {

// A card in memory that fails as failing cards do: reads that touch one of
// its bad stretches fail (kReadFailed), and from a chosen byte on it is gone
// (kCardGone), as when the card leaves its reader; every read after that
// fails too. It counts what it is asked, so a test can tell how far and how
// long a scan went on, without a clock. The bytes must outlive the reader.
class FlakyCardReader final : public CardReader {
 public:
  explicit FlakyCardReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  // Reads touching [from, to) fail.
  void FailBetween(std::int64_t from, std::int64_t to) { bad_.emplace_back(from, to); }
  // A read reaching at or past position finds the card gone, and so does every read after it.
  void VanishAt(std::int64_t position) { vanishAt_ = position; }
  // Read as an image file is (on the scan's thread) or as a device.
  void ReadAsFile(bool file) { file_ = file; }
  bool SystemReadsAhead() const override { return file_; }

  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) override {
    ++reads;
    furthestAsked = std::max(furthestAsked, offset + count);
    if (gone_) {
      ++readsWhileGone;
      return kCardGone;
    }
    if (vanishAt_ >= 0 && offset + count > vanishAt_) {
      gone_ = true;
      ++readsWhileGone;
      return kCardGone;
    }
    for (const auto& [from, to] : bad_) {
      if (offset < to && offset + count > from) return kReadFailed;
    }
    const std::int64_t n = std::clamp<std::int64_t>(Size() - offset, 0, count);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
    return n;
  }

  int reads = 0;
  int readsWhileGone = 0;
  std::int64_t furthestAsked = 0;  // the end of the furthest read asked for

 private:
  std::span<const std::uint8_t> bytes_;
  std::vector<std::pair<std::int64_t, std::int64_t>> bad_;
  std::int64_t vanishAt_ = -1;
  bool gone_ = false;
  bool file_ = false;
};

}  // namespace mendrake::testing
