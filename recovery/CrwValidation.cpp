#include "recovery/CrwValidation.h"

#include "recovery/CameraName.h"

#include "analysis/AnalysisState.h"
#include "analysis/ByteOrder.h"
#include "analysis/HeaderCheck.h"
#include "analysis/HeapWalker.h"
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
  RecordPlaces(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

  // An empty reason when every record lies inside.
  std::string CheckHeap(std::int64_t start, std::int64_t length, int depth) {
    const std::int64_t size = static_cast<std::int64_t>(bytes_.size());
    const std::int64_t pointerAt = start + length - 4;
    if (pointerAt <= kHeaderEnd || pointerAt + 4 > size) return {};
    const std::int64_t directory = start + LoadDWord(bytes_.data() + pointerAt, bigEndian_);
    if (directory <= kHeaderEnd || directory + 2 > size) return {};
    const std::uint16_t entries = LoadWord(bytes_.data() + directory, bigEndian_);
    if (entries == 0 || entries > kMaxDirectoryEntries) return {};
    if (directory + 2 + 10 * std::int64_t{entries} > size) {
      return "its directory at " + std::to_string(directory) + " runs past its end";
    }
    for (std::uint16_t k = 0; k < entries; ++k) {
      if (entriesVisited_++ >= WalkLimits::kMaxEntriesPerRootWalk) return {};
      const std::uint8_t* entry = bytes_.data() + directory + 2 + 10 * std::int64_t{k};
      const std::uint16_t tag = LoadWord(entry, bigEndian_);
      if (tag >= CrwTag::kFirstInlineData) continue;
      const std::uint32_t recordSize = LoadDWord(entry + 2, bigEndian_);
      if (recordSize == 0) return {};  // the walk stops here
      // As the walker adds them: in 32 bits.
      const std::uint32_t at = LoadDWord(entry + 6, bigEndian_) + static_cast<std::uint32_t>(start);
      if (at <= kHeaderEnd) return {};  // the walk stops here
      if (std::int64_t{at} + recordSize > size) {
        return "a record (tag " + Hex(tag) + ", " + std::to_string(recordSize) + " bytes at " + std::to_string(at) +
               ") lies past its end";
      }
      const auto high = static_cast<std::uint8_t>(tag >> 8);
      const bool subHeap = high == CrwTag::kSubHeapHigh || high == CrwTag::kSubHeapHighAlt;
      if (subHeap && depth + 1 <= WalkLimits::kMaxHeapDepth && subHeaps_ < WalkLimits::kMaxSubHeapsPerRootWalk) {
        ++subHeaps_;
        std::string reason = CheckHeap(at, recordSize, depth + 1);
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

  std::span<const std::uint8_t> bytes_;
  bool bigEndian_;
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
