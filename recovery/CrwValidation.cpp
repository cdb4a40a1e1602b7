#include "recovery/CrwValidation.h"

#include "recovery/CameraName.h"

#include "analysis/AnalysisState.h"
#include "analysis/CiffHeap.h"
#include "analysis/HeaderCheck.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "analysis/WalkLimits.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace mendrake {
namespace {

// The directories a walk would reach, each record's place checked against
// the file's end. Goes where the heap walker goes and stops where it stops,
// within the same bounds, so that it costs no more than one walk.
class RecordPlaces {
 public:
  RecordPlaces(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes, bigEndian) {}

  // An empty reason when every record lies inside.
  std::string CheckHeap(std::int64_t start, std::int64_t length, int depth) {
    const CiffHeap heap(bytes_, start, length);
    if (heap.PointerAt() <= kHeaderEnd || !heap.DirectoryAt()) return {};
    const std::int64_t directoryAt = *heap.DirectoryAt();
    const std::optional<CiffDirectory> directory = heap.Directory();
    if (directoryAt <= kHeaderEnd || !directory) return {};
    if (directory->Count() == 0 || directory->Count() > kMaxDirectoryEntries) return {};
    if (directory->End() > bytes_.Size()) {
      return "its directory at " + std::to_string(directoryAt) + " runs past its end";
    }
    for (std::uint16_t k = 0; k < directory->Count(); ++k) {
      if (entriesVisited_++ >= WalkLimits::kMaxEntriesPerRootWalk) return {};
      const CiffEntry entry = *directory->Entry(k);
      if (entry.DataInEntry()) continue;
      if (entry.size == 0) return {};  // the walk stops here
      // As the walker adds them: in 32 bits.
      const std::uint32_t at = entry.offset + static_cast<std::uint32_t>(start);
      if (at <= kHeaderEnd) return {};  // the walk stops here
      if (!bytes_.Holds(at, entry.size)) {
        return "a record (tag " + Hex(entry.tag) + ", " + std::to_string(entry.size) + " bytes at " +
               std::to_string(at) + ") lies past its end";
      }
      if (entry.IsSubHeap() && depth + 1 <= WalkLimits::kMaxHeapDepth &&
          subHeaps_ < WalkLimits::kMaxSubHeapsPerRootWalk) {
        ++subHeaps_;
        std::string reason = CheckHeap(at, entry.size, depth + 1);
        if (!reason.empty()) return reason;
      }
    }
    return {};
  }

 private:
  static std::string Hex(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
  }

  CiffBytes bytes_;
  int entriesVisited_ = 0;
  int subHeaps_ = 0;
};

std::string AfterPrefix(const std::vector<std::string>& lines, std::string_view prefix) {
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return {};
}

}  // namespace

CrwVerdict ValidateRecoveredCrw(std::span<const std::uint8_t> bytes, bool bigEndian, std::uint32_t headerLength) {
  FileImage scratch;
  return ValidateRecoveredCrw(bytes, bigEndian, headerLength, scratch);
}

CrwVerdict ValidateRecoveredCrw(std::span<const std::uint8_t> bytes, bool bigEndian, std::uint32_t headerLength,
                                FileImage& scratch) {
  CrwVerdict verdict;
  const std::int64_t size = static_cast<std::int64_t>(bytes.size());
  if (size <= std::int64_t{headerLength}) {
    verdict.reason = "it ends within its header";
    return verdict;
  }
  verdict.reason = RecordPlaces(bytes, bigEndian).CheckHeap(headerLength, size - headerLength, 0);
  if (!verdict.reason.empty()) return verdict;

  // Its own repair, as a repair of the file written alone would start: the
  // first candidate is its whole length, and there it must succeed.
  scratch.Assign(bytes.data(), size);
  AnalysisState state;
  LogLines lines;
  HeadlessPlatform platform;
  RepairContext context{state, lines, platform};
  if (!CheckHeader(state, scratch) || state.BigEndian != bigEndian || state.HLen != headerLength) {
    verdict.reason = "its header is not the one it was found with";
    return verdict;
  }
  SizeSearchBounds ownLength;
  ownLength.highest = size;
  ownLength.lowest = size - 1;
  if (!SearchTrueSize(context, scratch, ownLength).found) {
    verdict.reason = "a repair of the file alone does not find it whole";
    return verdict;
  }
  verdict.ok = true;
  const std::string make = AfterPrefix(lines.Lines(), "Make: ");
  const std::string model = AfterPrefix(lines.Lines(), "Model: ");
  verdict.makeAndModel = CameraName(make, model);
  if (state.FoundJPEG) {
    verdict.thumbnailStart = state.JPEGStart;
    verdict.thumbnailSize = state.JPEGSize;
  }
  return verdict;
}

}  // namespace mendrake
