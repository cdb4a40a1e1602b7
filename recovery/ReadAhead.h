#pragma once

#include "files/CardReader.h"
#include "files/LargeBuffer.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace mendrake {

// Where ReadAhead begins, and when it gives up.
struct CardReading {
  std::int64_t start = 0;
  // Bytes in a row that may fail to read before reading stops.
  std::int64_t maxUnreadableRun = std::numeric_limits<std::int64_t>::max();
};

// Reads a card front to back on a thread of its own, a few blocks ahead of
// the scan, so that scanning one block overlaps reading the next; or, with a
// depth of 0, on the scan's own thread, a block at each Next. Each
// position is read once, in order: a card in a reader is never asked to seek
// back. A failed read is retried sector by sector; sectors that still fail
// are zeros in the block and a range in its list. Reading stops early when
// the card is gone, or when too many bytes in a row could not be read; the
// blocks read before are still given.
class ReadAhead {
 public:
  // Past this many bytes in a row that could not be read, a block whose read
  // fails is not read again sector by sector: a card failing over such a
  // stretch fails every sector read, each of which may take the reader
  // seconds. Its good sectors, if any, are left for ddrescue, which the
  // image's mapfile tells that the block was not tried sector by sector.
  static constexpr std::int64_t kMaxRunReadBySector = std::int64_t{1} << 20;

  struct Block {
    std::int64_t start = 0;
    std::int64_t count = 0;
    // count bytes, after room bytes that the caller may write (to carry the
    // last bytes of the block before in front of this one).
    std::uint8_t* bytes = nullptr;
    std::vector<std::pair<std::int64_t, std::int64_t>> badRanges;  // [from, to), read as zeros
  };

  // Why reading ended before the card's end.
  enum class Stop {
    kNone,        // it went to the end (or was left early by the scan)
    kCardGone,    // the card or its reader is gone
    kUnreadable,  // maxUnreadableRun bytes in a row could not be read
  };

  // Blocks of blockSize bytes from reading.start on (the last one shorter),
  // depth of them in memory at most, each with room writable bytes before it;
  // depth 0 reads each block when Next asks for it, into one buffer.
  ReadAhead(CardReader& card, std::int64_t blockSize, std::int64_t sectorSize, std::int64_t room, int depth,
            CardReading reading = {});
  // Stops the reading thread, also when blocks are left unread.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block; false once the card has ended or reading stopped. The
  // block given before is handed back for reading, so its bytes are no
  // longer valid. What the card reader threw (an image that cannot be
  // written, say) is thrown here, after the blocks read before it.
  bool Next(Block& block);

  // Once Next has returned false: why reading ended, and the first byte not
  // read.
  Stop Stopped() const { return stop_; }
  std::int64_t StoppedAt() const { return stoppedAt_; }

 private:
  struct Slot {
    Block block;
    bool filled = false;
  };
  void ReadAll();
  bool Fill(std::size_t slot, std::int64_t position);
  bool ReadHere(Block& block);
  void ReadBlock(Block& block);
  void ReadSectors(Block& block);
  bool Unreadable(Block& block, std::int64_t at, std::int64_t count);

  CardReader& card_;
  const std::int64_t blockSize_;
  const std::int64_t sectorSize_;
  const std::int64_t room_;
  const CardReading reading_;
  // The slots' bytes, one after another in one mapping of huge pages: in
  // small pages the first read into each 4 KiB costs a page fault, which on
  // a virtual machine took as long as reading a megabyte.
  std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>> buffers_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool ended_ = false;             // the reader has put the last block in its slot
  std::size_t nextToScan_ = 0;     // the slot the scan takes next
  bool holding_ = false;           // the scan holds the slot before nextToScan_
  // Written by the reading thread before it sets ended_.
  Stop stop_ = Stop::kNone;
  std::int64_t stoppedAt_ = 0;
  std::int64_t unreadableRun_ = 0;  // bytes in a row that could not be read, up to the last read
  std::exception_ptr failure_;
  // Read on the scan's thread: the position of the next block to read.
  const bool here_;
  std::int64_t position_ = 0;
  std::thread reader_;
};

}  // namespace mendrake
