#pragma once

#include "analysis/CandidateScan.h"
#include "analysis/FileImage.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace mendrake {

// Helper threads worth starting on this machine.
unsigned DefaultCandidateFeedHelpers();

struct CandidateFeedTuning {
  // Candidates a helper scans at a time.
  std::int64_t blockSize = std::int64_t{1} << 20;
  // Helper threads; 0 scans on the calling thread alone.
  unsigned helpers = DefaultCandidateFeedHelpers();
  // A tail shorter than this is scanned on the calling thread: the search of
  // an ordinary file ends within a few candidates of its end.
  std::int64_t helpFrom = std::int64_t{32} << 20;
  // A block with more plausible candidates than this (a tail where nearly
  // every candidate leads to a directory) is left to the calling thread.
  std::size_t maxHitsPerBlock = std::size_t{1} << 15;
};

// Answers the size search's question, the next candidate below a point whose
// root directory is plausible, as RootCandidateScan does, with the same answers;
// on a long tail it has helper threads scan the blocks of candidates below the
// search ahead of it. Behind a long tail of junk every candidate must be tried
// (each plausible one is walked for its lines), and nearly all the time goes to
// scattered reads of entry counts, which overlap across processor cores.
// The search itself stays on the calling thread, in order.
class CandidateFeed {
 public:

  // Candidates from highest down to rootStart + 1.
  CandidateFeed(const FileImage& image, std::int64_t rootStart, bool bigEndian, std::int64_t highest,
                CandidateFeedTuning tuning = {});
  ~CandidateFeed();
  CandidateFeed(const CandidateFeed&) = delete;
  CandidateFeed& operator=(const CandidateFeed&) = delete;

  // As RootCandidateScan::FirstPlausible; calls must go down: each highest
  // below the candidate the previous call returned.
  CandidateHit FirstPlausible(std::int64_t highest, std::int64_t lowest);

 private:
  // The plausible candidates of one block, highest first, or crowded.
  struct Block {
    std::vector<CandidateHit> hits;
    bool crowded = false;
    std::size_t cursor = 0;
  };
  // Blocks the helpers may run ahead of the search, so memory stays bounded.
  static constexpr std::int64_t kBlocksAhead = 16;

  std::int64_t BlockOf(std::int64_t candidate) const { return (top_ - candidate) / tuning_.blockSize; }
  std::int64_t BlockHigh(std::int64_t block) const { return top_ - block * tuning_.blockSize; }
  std::int64_t BlockLow(std::int64_t block) const;
  Block ScanBlock(std::int64_t block) const;
  Block& WaitFor(std::int64_t block);
  void Help();

  RootCandidateScan scan_;
  CandidateFeedTuning tuning_;
  std::int64_t top_;
  std::int64_t bottom_;
  std::int64_t blocks_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::int64_t, Block> ready_;
  std::int64_t nextToScan_ = 0;
  std::int64_t searching_ = 0;
  bool stopping_ = false;
  // Set when a block's answers could not be kept: blocks not ready by then are
  // scanned by the calling thread, as leftToCaller_ says.
  bool abandoned_ = false;
  Block leftToCaller_{.hits = {}, .crowded = true, .cursor = 0};
  std::vector<std::thread> helpers_;
};

}  // namespace mendrake
