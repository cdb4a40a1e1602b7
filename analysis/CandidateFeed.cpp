#include "analysis/CandidateFeed.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace mendrake {

unsigned DefaultCandidateFeedHelpers() {
  // One core gains nothing from a helper; past eight the memory system, not
  // the cores, sets the pace.
  const unsigned cores = std::thread::hardware_concurrency();
  return cores < 2 ? 0 : std::min(cores, 8u);
}

CandidateFeed::CandidateFeed(const FileImage& image, std::int64_t rootStart, bool bigEndian, std::int64_t highest,
                             CandidateFeedTuning tuning)
    : scan_(image, rootStart, bigEndian), tuning_(tuning), top_(highest), bottom_(rootStart + 1) {
  const std::int64_t candidates = top_ - bottom_ + 1;
  if (tuning_.helpers == 0 || tuning_.blockSize <= 0 || candidates < tuning_.helpFrom) return;
  blocks_ = (candidates + tuning_.blockSize - 1) / tuning_.blockSize;
  try {
    for (unsigned i = 0; i < tuning_.helpers; ++i) helpers_.emplace_back([this] { Help(); });
  } catch (const std::system_error&) {
    // Fewer helpers than asked, or none: the search goes on either way.
  }
  if (helpers_.empty()) blocks_ = 0;
}

CandidateFeed::~CandidateFeed() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

std::int64_t CandidateFeed::BlockLow(std::int64_t block) const {
  return std::max(bottom_, top_ - (block + 1) * tuning_.blockSize + 1);
}

CandidateHit CandidateFeed::FirstPlausible(std::int64_t highest, std::int64_t lowest) {
  if (blocks_ == 0 || highest > top_ || lowest < bottom_) return scan_.FirstPlausible(highest, lowest);
  while (highest >= lowest) {
    const std::int64_t block = BlockOf(highest);
    const std::int64_t low = std::max(lowest, BlockLow(block));
    Block& scanned = WaitFor(block);
    if (scanned.crowded) {
      const CandidateHit hit = scan_.FirstPlausible(highest, low);
      if (hit.candidate >= low) return hit;
    } else {
      while (scanned.cursor < scanned.hits.size() && scanned.hits[scanned.cursor].candidate > highest) ++scanned.cursor;
      if (scanned.cursor < scanned.hits.size() && scanned.hits[scanned.cursor].candidate >= low) {
        return scanned.hits[scanned.cursor];
      }
    }
    highest = low - 1;
  }
  return {lowest - 1, -1};
}

CandidateFeed::Block CandidateFeed::ScanBlock(std::int64_t block) const {
  Block scanned;
  const std::int64_t low = BlockLow(block);
  try {
    for (std::int64_t high = BlockHigh(block); high >= low;) {
      const CandidateHit hit = scan_.FirstPlausible(high, low);
      if (hit.candidate < low) break;
      if (scanned.hits.size() == tuning_.maxHitsPerBlock) {
        scanned.crowded = true;
        break;
      }
      scanned.hits.push_back(hit);
      high = hit.candidate - 1;
    }
  } catch (const std::bad_alloc&) {
    scanned.crowded = true;
  }
  if (scanned.crowded) scanned.hits = {};
  return scanned;
}

CandidateFeed::Block& CandidateFeed::WaitFor(std::int64_t block) {
  std::unique_lock lock(mutex_);
  if (block > searching_) {
    // Blocks above the search are done with: free them, and let the helpers
    // run further ahead.
    ready_.erase(ready_.begin(), ready_.lower_bound(block));
    searching_ = block;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return ready_.count(block) != 0 || abandoned_; });
  const auto found = ready_.find(block);
  return found != ready_.end() ? found->second : leftToCaller_;
}

void CandidateFeed::Help() {
  for (;;) {
    std::int64_t block = 0;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || nextToScan_ >= blocks_ || nextToScan_ < searching_ + kBlocksAhead; });
      if (stopping_ || nextToScan_ >= blocks_) return;
      block = nextToScan_++;
    }
    Block scanned = ScanBlock(block);
    {
      const std::lock_guard lock(mutex_);
      try {
        if (block >= searching_) ready_.emplace(block, std::move(scanned));
      } catch (const std::bad_alloc&) {
        // Without room for a block's answers the search scans on its own.
        abandoned_ = true;
      }
    }
    changed_.notify_all();
  }
}

}  // namespace mendrake
