#pragma once

#include "recovery/ThmFile.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace mendrake {

struct ThmScanLimits {
  // THMs held until the card has been read, when each is matched with the
  // CRW file of its shot time: a 4 GB card holds some 600 photos; past these
  // bounds THMs are counted, not held.
  static constexpr std::size_t kMaxThmsHeld = 4096;
  static constexpr std::size_t kMaxBytesHeld = std::size_t{32} << 20;
  static constexpr std::int64_t kSectorSize = 512;
};

// The THM files among the card's bytes as they stream past: each starts at a
// sector start (files start at cluster starts), and one that the last read
// cut off is finished from the next. skip says which positions to leave
// alone (the THMs of files the card still lists, which stay on the card).
class ThmScan {
 public:
  explicit ThmScan(std::function<bool(std::int64_t)> skip = {}) : skip_(std::move(skip)) {}

  void Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t count);
  // Whether a THM begun in the bytes seen so far waits for the next ones.
  bool Waiting() const { return !partial_.empty(); }
  // Whether a sector among the count bytes at start begins as a THM does:
  // bytes where none does, given while none waits, leave Observe nothing to do.
  static bool AnyStartLikeThm(const std::uint8_t* bytes, std::int64_t start, std::int64_t count);
  // After the card's last block: a THM that its end cut off is what was read of it.
  void Finish();

  std::vector<ThmFile>& Held() { return held_; }
  // THMs found past the bounds of ThmScanLimits (past the count, every
  // sector that begins as a THM does).
  int NotHeld() const { return notHeld_; }

 private:
  struct Partial {
    std::int64_t position = 0;
    std::vector<std::uint8_t> bytes;
  };
  void Take(std::span<const std::uint8_t> bytes, std::int64_t position);

  std::function<bool(std::int64_t)> skip_;
  std::vector<ThmFile> held_;
  std::size_t bytesHeld_ = 0;
  int notHeld_ = 0;
  // THMs begun in the last block's final kMaxThmSize bytes, with what it held of them.
  std::vector<Partial> partial_;
  std::int64_t end_ = 0;  // just past the last block seen
};

}  // namespace mendrake
