#include "recovery/CrwEnd.h"

#include "analysis/AnalysisState.h"
#include "analysis/ByteOrder.h"
#include "analysis/CiffHeap.h"
#include "analysis/HeaderCheck.h"
#include "analysis/HeapWalker.h"
#include "analysis/Platform.h"
#include "analysis/RootHeapEnd.h"
#include "analysis/SizeSearch.h"
#include "recovery/CrwValidation.h"
#include "recovery/FileSignatures.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define MENDRAKE_HAVE_SSE2 1
#include <emmintrin.h>
#endif

namespace mendrake {
namespace {

// The camera's file counter, from a record in the heap or (as cameras store
// it, tag 0x5817) from the entry itself; 0 when the file holds none.
std::uint32_t FindFileNumber(const CiffHeap& root) {
  std::uint32_t number = 0;
  VisitCiffEntries(root, [&](const CiffHeap& heap, const CiffEntry& entry) {
    if ((entry.tag & 0x3FFF) != CrwTag::kFileNumber) return false;
    if ((entry.tag & 0xC000) == CrwTag::kFirstInlineData) {
      number = entry.size;
    } else if (!entry.DataInEntry() && entry.size >= 4 && heap.RecordAt(entry) + entry.size <= heap.End()) {
      number = heap.Bytes().DWord(heap.RecordAt(entry)).value_or(0);
    }
    return number != 0;
  });
  return number;
}

// Each search takes the candidates from a closed root end to a trailer's
// length past it, and at least this many above those searched before, so
// that a window crowded with closed ends costs a few searches, not one per end.
constexpr std::int64_t kMinSearchStep = kMaxRootHeapTrailer;

// The searches' lines are not shown: the line of a recovered file comes from
// the walk of the file alone.
class UnshownLines final : public LogBox {
 public:
  void Clear() override {}
  void Append(std::string_view /*line*/) override {}
};

// Where a file that a camera writes begins in the bytes of window past the
// root heap that ends at candidate (a trailer that repeats the heap's
// pointer), at a sector start counted from the window's: -1 where none
// does. Files on a card begin at cluster starts; a tool's trailer holds none.
std::int64_t FileInTrailer(const FileImage& window, std::int64_t candidate, bool bigEndian,
                           std::uint32_t headerLength) {
  constexpr std::int64_t kSector = 512;
  const std::uint8_t* data = window.Data();
  const std::int64_t directory = std::int64_t{headerLength} + LoadDWord(data + candidate - 4, bigEndian);
  if (directory < 0 || directory + 2 > candidate) return -1;
  const std::int64_t heapEnd = HeapEndAfterDirectory(directory, LoadWord(data + directory, bigEndian));
  for (std::int64_t at = (heapEnd + kSector - 1) / kSector * kSector; at < candidate; at += kSector) {
    if (CameraFileBeginsAt(data + at, window.Size() - at)) return at;
  }
  return -1;
}

}  // namespace

// Whether a root directory ends at size: a loop over every position of a
// window comes here, with raw loads, each inside by that loop's bounds.
inline bool ClosesRootAt(const std::uint8_t* data, std::int64_t size, bool bigEndian, std::uint32_t headerLength) {
  const std::int64_t directory = std::int64_t{headerLength} + LoadDWord(data + size - 4, bigEndian);
  const std::int64_t listed = size - 4 - directory - 2;
  if (listed < 10 || listed > 10 * kMaxDirectoryEntries || listed % 10 != 0) return false;
  return LoadWord(data + directory, bigEndian) == listed / 10;
}

std::int64_t NextClosedRootEnd(const FileImage& window, bool bigEndian, std::uint32_t headerLength, std::int64_t from) {
  const std::uint8_t* data = window.Data();
  std::int64_t size = std::max(from, std::int64_t{headerLength} + 16);
#ifdef MENDRAKE_HAVE_SSE2
  // A root's pointer lies at most kMaxDirectoryEntries entries below the
  // size, so its top byte is one of at most two values for sixteen sizes in
  // a row: in random bytes fewer than one place in a hundred has it, and
  // only those are checked whole.
  constexpr std::int64_t kDirectoryBelow = 6 + 10 * kMaxDirectoryEntries;
  const std::int64_t topByteAt = bigEndian ? -4 : -1;
  for (; size + 15 <= window.Size(); size += 16) {
    const std::int64_t lowest = std::max<std::int64_t>(0, size - headerLength - kDirectoryBelow);
    const std::int64_t highest = size + 15 - headerLength - 16;
    const std::int64_t lowTop = lowest >> 24;
    const std::int64_t highTop = highest >> 24;
    if (highTop - lowTop > 1 || highTop > 0xFF) break;
    const __m128i tops = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size + topByteAt));
    const __m128i either = _mm_or_si128(_mm_cmpeq_epi8(tops, _mm_set1_epi8(static_cast<char>(lowTop))),
                                        _mm_cmpeq_epi8(tops, _mm_set1_epi8(static_cast<char>(highTop))));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(either)); mask != 0; mask &= mask - 1) {
      const std::int64_t candidate = size + std::countr_zero(mask);
      if (ClosesRootAt(data, candidate, bigEndian, headerLength)) return candidate;
    }
  }
#endif
  for (; size <= window.Size(); ++size) {
    if (ClosesRootAt(data, size, bigEndian, headerLength)) return size;
  }
  return -1;
}

CrwEnd FindCrwEnd(FileImage& window, FileImage& scratch, std::int64_t maxEntries) {
  CrwEnd end;
  AnalysisState state;
  window.SetPosition(0);
  end.isCrw = CheckHeader(state, window);
  window.SetPosition(0);
  if (!end.isCrw) return end;
  UnshownLines lines;
  HeadlessPlatform platform;
  RepairContext context{state, lines, platform};

  CrwVerdict taken;
  std::string refused;
  SizeSearchBounds bounds;
  bounds.accept = [&](std::int64_t candidate) {
    // A camera's THM right after the photo may repeat its pointer by chance.
    if (const std::int64_t other = FileInTrailer(window, candidate, state.BigEndian, state.HLen); other >= 0) {
      refused = "the end at " + std::to_string(candidate) + " bytes was refused: another file begins at byte " +
                std::to_string(other) + ", past its root heap";
      return false;
    }
    const std::span<const std::uint8_t> file(window.Data(), static_cast<std::size_t>(candidate));
    CrwVerdict verdict = ValidateRecoveredCrw(file, state.BigEndian, state.HLen, scratch);
    if (!verdict.ok) refused = "the end at " + std::to_string(candidate) + " bytes was refused: " + verdict.reason;
    if (verdict.ok) taken = std::move(verdict);
    return taken.ok;
  };

  // The candidates are searched in pieces from the first closed root end up:
  // below it no end can lie, and each piece ends where a trailer past the
  // closed end that opened it would. An end whose file does not stand alone
  // is passed over, and the search goes on above it.
  std::int64_t searched = state.HLen;  // candidates up to here were tried
  std::int64_t closed = NextClosedRootEnd(window, state.BigEndian, state.HLen, 0);
  bool found = false;
  bool budgetSpent = false;
  while (closed > 0 && !found && !budgetSpent) {
    const std::int64_t top = std::min(window.Size(), std::max(closed, searched) + kMinSearchStep);
    if (top > searched) {
      bounds.highest = top;
      bounds.lowest = std::max(searched, closed - 1);
      bounds.maxEntries = maxEntries - end.entriesVisited;
      const SizeSearchOutcome outcome = SearchTrueSize(context, window, bounds);
      end.entriesVisited += outcome.entriesVisited;
      found = outcome.found;
      if (found) end.trueSize = outcome.nextCandidate + 1;
      budgetSpent = outcome.budgetSpent || end.entriesVisited >= maxEntries;
      searched = top;
    }
    // Closed ends up to a trailer's length below what was searched can lead
    // to no end above it.
    if (!found && top < window.Size()) {
      const std::int64_t from = std::max(closed + 1, top - kMaxRootHeapTrailer + 1);
      closed = NextClosedRootEnd(window, state.BigEndian, state.HLen, from);
    } else {
      closed = -1;
    }
  }
  if (!found) {
    end.whyNot = budgetSpent ? "no true end found within its share of the work"
                 : refused.empty() ? "no true end found"
                                   : "no true end found; " + refused;
    return end;
  }
  end.thumbnailStart = taken.thumbnailStart;
  end.thumbnailSize = taken.thumbnailSize;
  end.makeAndModel = taken.makeAndModel;
  const CiffBytes file(std::span(window.Data(), static_cast<std::size_t>(end.trueSize)), state.BigEndian);
  end.fileNumber = FindFileNumber(CiffHeap(file, state.HLen, end.trueSize - state.HLen));
  return end;
}

}  // namespace mendrake
