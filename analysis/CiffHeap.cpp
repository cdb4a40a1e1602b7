#include "analysis/CiffHeap.h"

#include "analysis/WalkLimits.h"

namespace mendrake {

std::span<const std::uint8_t> CiffBytes::Span(std::int64_t at, std::int64_t count) const {
  if (!Holds(at, count)) return {};
  return bytes_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(count));
}

namespace {

using EntryVisit = std::function<bool(const CiffHeap&, const CiffEntry&)>;

struct WellFormedVisit {
  const EntryVisit& visit;
  int subHeaps = 0;
  int entries = 0;

  // True when the visit ends.
  bool Heap(const CiffHeap& heap, int depth) {
    if (heap.Length() < 6) return false;
    const std::optional<CiffDirectory> directory = heap.Directory();
    if (!directory || directory->At() < heap.Start() || directory->At() + 2 > heap.PointerAt()) return false;
    if (directory->Count() > kMaxDirectoryEntries || directory->End() > heap.PointerAt()) return false;
    for (std::uint16_t i = 0; i < directory->Count(); ++i) {
      if (++entries > WalkLimits::kMaxEntriesPerRootWalk) return true;
      const std::optional<CiffEntry> entry = directory->Entry(i);
      if (!entry) return false;
      if (visit(heap, *entry)) return true;
      if (entry->DataInEntry() || !entry->IsSubHeap() || !InsideHeap(heap, *entry)) continue;
      if (depth + 1 > WalkLimits::kMaxHeapDepth) continue;
      if (++subHeaps > WalkLimits::kMaxSubHeapsPerRootWalk) return true;
      if (Heap(heap.SubHeap(*entry), depth + 1)) return true;
    }
    return false;
  }

  static bool InsideHeap(const CiffHeap& heap, const CiffEntry& entry) {
    return std::int64_t{entry.size} <= heap.Length() && heap.RecordAt(entry) + entry.size <= heap.End();
  }
};

}  // namespace

bool VisitCiffEntries(const CiffHeap& heap, const EntryVisit& visit) {
  WellFormedVisit walk{visit};
  return walk.Heap(heap, 0);
}

std::optional<CiffRecord> FindCiffRecord(const CiffHeap& heap, std::uint16_t tag) {
  std::optional<CiffRecord> found;
  VisitCiffEntries(heap, [&](const CiffHeap& in, const CiffEntry& entry) {
    if (entry.tag != tag || entry.DataInEntry()) return false;
    const CiffRecord record{in.RecordAt(entry), std::int64_t{entry.size}};
    if (record.at + record.size > in.End() || !in.Bytes().Holds(record.at, record.size)) return false;
    found = record;
    return true;
  });
  return found;
}

}  // namespace mendrake
