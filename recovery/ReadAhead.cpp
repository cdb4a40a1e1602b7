#include "recovery/ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace mendrake {

ReadAhead::ReadAhead(CardReader& card, std::int64_t blockSize, std::int64_t sectorSize, std::int64_t room, int depth,
                     CardReading reading)
    : card_(card),
      blockSize_(blockSize),
      sectorSize_(sectorSize),
      room_(room),
      reading_(reading),
      buffers_(static_cast<std::size_t>(std::max(depth, 1) * (room + blockSize))),
      slots_(static_cast<std::size_t>(std::max(depth, 1))),
      here_(depth == 0),
      position_(reading.start) {
  if (!here_) reader_ = std::thread([this] { ReadAll(); });
}

ReadAhead::~ReadAhead() {
  if (here_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

// Reads the block at position into the slot; false when nothing of it was
// read, reading having stopped at its start.
bool ReadAhead::Fill(std::size_t slot, std::int64_t position) {
  Block& block = slots_[slot].block;
  block.start = position;
  block.count = std::min(blockSize_, card_.Size() - position);
  block.bytes = buffers_.data() + static_cast<std::ptrdiff_t>(slot) * (room_ + blockSize_) + room_;
  block.badRanges.clear();
  ReadBlock(block);
  // A block cut by a stop is given up to the stop, when anything of it was read.
  return block.count > 0;
}

// Next's read on the scan's thread: what the card reader throws reaches the
// scan at once, after the blocks given before.
bool ReadAhead::ReadHere(Block& block) {
  const std::int64_t size = card_.Size();
  if (stop_ != Stop::kNone) return false;
  if (position_ >= size) {
    stoppedAt_ = size;
    return false;
  }
  const std::int64_t position = position_;
  position_ += blockSize_;
  if (!Fill(0, position)) return false;
  block = slots_[0].block;
  return true;
}

void ReadAhead::ReadAll() {
  const std::int64_t size = card_.Size();
  std::size_t next = 0;
  try {
    for (std::int64_t position = reading_.start; position < size && stop_ == Stop::kNone; position += blockSize_) {
      Slot& slot = slots_[next];
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || !slot.filled; });
        if (stopping_) return;
      }
      if (!Fill(next, position)) break;
      {
        std::lock_guard lock(mutex_);
        slot.filled = true;
      }
      changed_.notify_all();
      next = (next + 1) % slots_.size();
    }
    if (stop_ == Stop::kNone) stoppedAt_ = size;
  } catch (...) {
    failure_ = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

void ReadAhead::ReadBlock(Block& block) {
  const std::int64_t n = card_.ReadAt(block.start, block.bytes, block.count);
  if (n == block.count) {
    unreadableRun_ = 0;
  } else if (n == CardReader::kCardGone) {
    stop_ = Stop::kCardGone;
    stoppedAt_ = block.start;
    block.count = 0;
  } else if (unreadableRun_ >= kMaxRunReadBySector) {
    std::memset(block.bytes, 0, static_cast<std::size_t>(block.count));
    block.badRanges.emplace_back(block.start, block.start + block.count);
    Unreadable(block, 0, block.count);
  } else {
    ReadSectors(block);
  }
}

// Counts count unread bytes at block offset at into the run; true, with the
// block cut after them, when the run has reached its bound.
bool ReadAhead::Unreadable(Block& block, std::int64_t at, std::int64_t count) {
  unreadableRun_ += count;
  if (unreadableRun_ < reading_.maxUnreadableRun) return false;
  // A card that fails every read is gone in all but name: reading on would
  // only give zeros, one failed read at a time, to its end.
  stop_ = Stop::kUnreadable;
  stoppedAt_ = block.start + at + count;
  block.count = at + count;
  return true;
}

void ReadAhead::ReadSectors(Block& block) {
  std::int64_t badFrom = -1;
  for (std::int64_t at = 0; at < block.count; at += sectorSize_) {
    const std::int64_t n = std::min(sectorSize_, block.count - at);
    const std::int64_t got = card_.ReadAt(block.start + at, block.bytes + at, n);
    if (got == CardReader::kCardGone) {
      stop_ = Stop::kCardGone;
      stoppedAt_ = block.start + at;
      block.count = at;
      break;
    }
    const bool good = got == n;
    if (good) unreadableRun_ = 0;
    if (!good) std::memset(block.bytes + at, 0, static_cast<std::size_t>(n));
    if (!good && badFrom < 0) badFrom = block.start + at;
    if (good && badFrom >= 0) block.badRanges.emplace_back(badFrom, block.start + at), badFrom = -1;
    if (!good && Unreadable(block, at, n)) break;
  }
  if (badFrom >= 0) block.badRanges.emplace_back(badFrom, block.start + block.count);
}

bool ReadAhead::Next(Block& block) {
  if (here_) return ReadHere(block);
  std::unique_lock lock(mutex_);
  if (holding_) {
    slots_[(nextToScan_ + slots_.size() - 1) % slots_.size()].filled = false;
    holding_ = false;
    changed_.notify_all();
  }
  Slot& slot = slots_[nextToScan_];
  changed_.wait(lock, [&] { return slot.filled || ended_; });
  if (!slot.filled) {
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    return false;
  }
  block = slot.block;
  nextToScan_ = (nextToScan_ + 1) % slots_.size();
  holding_ = true;
  return true;
}

}  // namespace mendrake
