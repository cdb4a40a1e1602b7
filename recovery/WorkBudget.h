#pragma once

#include "recovery/RecoveryLimits.h"

#include <algorithm>
#include <cstdint>

namespace mendrake {

// The directory entries that the size searches of a card's windows may still
// visit. The card earns them as its bytes are scanned (RecoveryLimits), and
// each window may spend at most its own share, so that what a card holds
// cannot make its scan cost much more than reading it: a run of crafted
// windows spends what their bytes earned and no more, and the photo after
// them earns its own.
class WorkBudget {
 public:
  explicit WorkBudget(const RecoveryBounds& bounds)
      : perWindow_(bounds.maxEntriesPerWindow), bytesPerEntry_(std::max<std::int64_t>(bounds.cardBytesPerEntry, 1)) {}

  // The share of a window closed once bytesScanned of the card were read:
  // one window's share to start with, and what the bytes earned since.
  std::int64_t ForWindow(std::int64_t bytesScanned) const {
    const std::int64_t earned = perWindow_ + bytesScanned / bytesPerEntry_;
    return std::clamp<std::int64_t>(earned - spent_, 0, perWindow_);
  }
  // What the card has left once bytesScanned were read, whatever a window's
  // share: the join of two pieces copies a whole file and walks it, and is
  // paid from here.
  std::int64_t Left(std::int64_t bytesScanned) const {
    return std::max<std::int64_t>(0, perWindow_ + bytesScanned / bytesPerEntry_ - spent_);
  }
  // A copy is paid at a sixteenth of what reading as many bytes earns: a
  // card's bytes pay for sixteen copies of a joined file each, so files
  // joined one after another never run the budget dry, while a crafted card
  // whose ends fit every waiting piece stops being copied at that.
  static constexpr std::int64_t kCopiesPerByteRead = 16;
  std::int64_t EntriesForCopy(std::int64_t bytes) const { return bytes / BytesPerCopiedEntry(); }
  // The bytes a copy moves for one entry, for a payer of many small copies.
  std::int64_t BytesPerCopiedEntry() const { return bytesPerEntry_ * kCopiesPerByteRead; }
  // Weighing a reading of a joined file copies it, decodes its thumbnail and
  // decodes its raw data (the slowest, paid twice): each is paid as a copy of
  // the file, before any of them begins, so that a card whose ends fit every
  // waiting piece stops being weighed where its bytes stop paying.
  static constexpr std::int64_t kPassesToWeigh = 4;
  std::int64_t EntriesToWeigh(std::int64_t bytes) const { return kPassesToWeigh * EntriesForCopy(bytes); }
  void Spend(std::int64_t entries) { spent_ += entries; }
  std::int64_t Spent() const { return spent_; }

 private:
  std::int64_t perWindow_;
  std::int64_t bytesPerEntry_;
  std::int64_t spent_ = 0;
};

}  // namespace mendrake
