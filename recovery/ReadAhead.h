#pragma once

#include "files/CardReader.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace mendrake {

// Reads a card front to back on a thread of its own, a few blocks ahead of
// the scan, so that scanning one block overlaps reading the next. Each
// position is read once, in order: a card in a reader is never asked to seek
// back. A failed read is retried sector by sector; sectors that still fail
// are zeros in the block and a range in its list.
class ReadAhead {
 public:
  struct Block {
    std::int64_t start = 0;
    std::int64_t count = 0;
    // count bytes, after room bytes that the caller may write (to carry the
    // last bytes of the block before in front of this one).
    std::uint8_t* bytes = nullptr;
    std::vector<std::pair<std::int64_t, std::int64_t>> badRanges;  // [from, to), read as zeros
  };

  // Blocks of blockSize bytes (the last one shorter), depth of them in
  // memory at most, each with room writable bytes before it.
  ReadAhead(CardReader& card, std::int64_t blockSize, std::int64_t sectorSize, std::int64_t room, int depth);
  // Stops the reading thread, also when blocks are left unread.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block; false once the card has ended. The block given before
  // is handed back for reading, so its bytes are no longer valid.
  bool Next(Block& block);

 private:
  struct Slot {
    std::unique_ptr<std::uint8_t[]> buffer;
    Block block;
    bool filled = false;
  };
  void ReadAll();
  void ReadBlock(Block& block);

  CardReader& card_;
  const std::int64_t blockSize_;
  const std::int64_t sectorSize_;
  const std::int64_t room_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool ended_ = false;             // the reader has put the last block in its slot
  std::size_t nextToScan_ = 0;     // the slot the scan takes next
  bool holding_ = false;           // the scan holds the slot before nextToScan_
  std::thread reader_;
};

}  // namespace mendrake
