#pragma once

#include "analysis/ByteOrder.h"
#include "analysis/CiffTag.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace mendrake {

// A position at or below this lies inside the 14 bytes every header has.
constexpr std::int64_t kHeaderEnd = 14;
// Entries one directory may list.
constexpr std::uint16_t kMaxDirectoryEntries = 256;

// The bytes of a CRW file, or of the part of a card it may lie in, read in
// the file's byte order. Every read is checked against the bytes' end: a
// value that does not lie wholly inside them is nothing.
class CiffBytes {
 public:
  CiffBytes(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  bool BigEndian() const { return bigEndian_; }
  // Whether the count bytes at at lie inside.
  bool Holds(std::int64_t at, std::int64_t count) const { return at >= 0 && count >= 0 && count <= Size() - at; }
  std::optional<std::uint16_t> Word(std::int64_t at) const {
    if (!Holds(at, 2)) return std::nullopt;
    return LoadWord(bytes_.data() + at, bigEndian_);
  }
  std::optional<std::uint32_t> DWord(std::int64_t at) const {
    if (!Holds(at, 4)) return std::nullopt;
    return LoadDWord(bytes_.data() + at, bigEndian_);
  }
  // The count bytes at at; empty when they do not lie inside.
  std::span<const std::uint8_t> Span(std::int64_t at, std::int64_t count) const;

 private:
  std::span<const std::uint8_t> bytes_;
  bool bigEndian_;
};

// One 10-byte directory entry as the file holds it.
struct CiffEntry {
  std::uint16_t tag = 0;
  // Bytes 2 to 5: the record's size, or for data held in the entry its
  // first four bytes.
  std::uint32_t size = 0;
  // Bytes 6 to 9: the record's offset from the start of its heap, or for
  // data held in the entry its last four bytes.
  std::uint32_t offset = 0;

  bool DataInEntry() const { return tag >= CrwTag::kFirstInlineData; }
  // The one rule for a heap inside a heap, the heap walker's: a tag whose
  // whole high byte is 0x28 or 0x30. Tags that share only those kind bits
  // (0x2900, 0x6800) name no heap that a camera writes, and a walker that
  // entered them would read junk as directories.
  bool IsSubHeap() const {
    const auto high = static_cast<std::uint8_t>(tag >> 8);
    return high == CrwTag::kSubHeapHigh || high == CrwTag::kSubHeapHighAlt;
  }
};

// A heap's directory: its 2-byte count and the entries after it.
class CiffDirectory {
 public:
  CiffDirectory(const CiffBytes& bytes, std::int64_t at, std::uint16_t count) : bytes_(&bytes), at_(at), count_(count) {}

  std::int64_t At() const { return at_; }
  std::uint16_t Count() const { return count_; }
  // Just past the last entry, where a camera writes the heap's pointer.
  std::int64_t End() const { return at_ + 2 + 10 * std::int64_t{count_}; }
  // Entry index; nothing when its ten bytes do not lie inside the bytes.
  std::optional<CiffEntry> Entry(std::int64_t index) const {
    const std::int64_t at = at_ + 2 + 10 * index;
    if (index < 0 || !bytes_->Holds(at, 10)) return std::nullopt;
    return CiffEntry{*bytes_->Word(at), *bytes_->DWord(at + 2), *bytes_->DWord(at + 6)};
  }

 private:
  const CiffBytes* bytes_;
  std::int64_t at_;
  std::uint16_t count_;
};

// A heap: length bytes from start on, ending in the 4-byte offset of its
// directory from start. Nothing is read until asked; what is read is checked
// against the bytes, never against the heap's own bounds, which each reader
// judges by its own rule.
class CiffHeap {
 public:
  CiffHeap(const CiffBytes& bytes, std::int64_t start, std::int64_t length)
      : bytes_(&bytes), start_(start), length_(length) {}

  const CiffBytes& Bytes() const { return *bytes_; }
  std::int64_t Start() const { return start_; }
  std::int64_t Length() const { return length_; }
  std::int64_t End() const { return start_ + length_; }
  // Where the heap's last four bytes lie.
  std::int64_t PointerAt() const { return End() - 4; }
  // Where the pointer says the directory lies (start plus the offset);
  // nothing when the pointer does not lie inside the bytes.
  std::optional<std::int64_t> DirectoryAt() const {
    const std::optional<std::uint32_t> offset = bytes_->DWord(PointerAt());
    if (!offset) return std::nullopt;
    return start_ + std::int64_t{*offset};
  }
  // The directory there; nothing when the pointer or the count does not lie
  // inside the bytes.
  std::optional<CiffDirectory> Directory() const {
    const std::optional<std::int64_t> at = DirectoryAt();
    if (!at) return std::nullopt;
    const std::optional<std::uint16_t> count = bytes_->Word(*at);
    if (!count) return std::nullopt;
    return CiffDirectory(*bytes_, *at, *count);
  }
  // Where the record of an entry with data in the heap begins.
  std::int64_t RecordAt(const CiffEntry& entry) const { return start_ + std::int64_t{entry.offset}; }
  // The heap that a sub-heap entry describes.
  CiffHeap SubHeap(const CiffEntry& entry) const { return {*bytes_, RecordAt(entry), std::int64_t{entry.size}}; }

 private:
  const CiffBytes* bytes_;
  std::int64_t start_;
  std::int64_t length_;
};

// Calls visit(heap, entry) for every entry of a well-formed heap, in
// directory order, and enters the sub-heaps met on the way right after
// visiting their entry. Well-formed: the directory lies inside its heap and
// every entry before the heap's pointer, at most kMaxDirectoryEntries of
// them; a sub-heap is entered only when it lies inside its parent, to
// WalkLimits' depth, and the bounds of one root walk on sub-heaps and
// entries hold over the whole visit. visit returns true to end the visit;
// the result says whether it did. Heaps that are not well-formed are passed
// over, as a record is whose place lies outside its heap.
bool VisitCiffEntries(const CiffHeap& heap, const std::function<bool(const CiffHeap&, const CiffEntry&)>& visit);

// Where a record lies in the bytes.
struct CiffRecord {
  std::int64_t at = 0;
  std::int64_t size = 0;
};

// The first record with the tag and its data in the heap, in the order
// VisitCiffEntries meets them, whose place lies inside its heap: the sensor
// information, the decoder table, the raw data. Nothing when none is found.
std::optional<CiffRecord> FindCiffRecord(const CiffHeap& heap, std::uint16_t tag);

}  // namespace mendrake
