#include "recovery/CrwEnd.h"

#include "analysis/AnalysisState.h"
#include "analysis/ByteOrder.h"
#include "analysis/HeaderCheck.h"
#include "analysis/HeapWalker.h"
#include "analysis/Platform.h"
#include "analysis/SizeSearch.h"
#include "recovery/CameraName.h"

#include <algorithm>
#include <string_view>

namespace mendrake {
namespace {

// The camera's file counter (folder number times 10000 plus the photo's
// number), stored in the image properties heap.
constexpr std::uint16_t kFileNumberTag = 0x1817;

std::uint32_t FindFileNumber(const std::uint8_t* data, std::int64_t start, std::int64_t length, bool bigEndian,
                             int depth) {
  if (depth > WalkLimits::kMaxHeapDepth || length < 6) return 0;
  const std::int64_t end = start + length;
  const std::int64_t directory = start + LoadDWord(data + end - 4, bigEndian);
  if (directory < start || directory + 2 > end - 4) return 0;
  const std::uint16_t entries = LoadWord(data + directory, bigEndian);
  if (entries > kMaxDirectoryEntries || directory + 2 + std::int64_t{entries} * 10 > end - 4) return 0;
  for (std::uint16_t i = 0; i < entries; ++i) {
    const std::uint8_t* entry = data + directory + 2 + i * 10;
    const std::uint16_t tag = LoadWord(entry, bigEndian);
    const std::int64_t size = LoadDWord(entry + 2, bigEndian);
    const std::int64_t at = start + LoadDWord(entry + 6, bigEndian);
    // Cameras store the file number in the entry itself (tag 0x5817).
    const bool inlineData = (tag & 0xC000) == CrwTag::kFirstInlineData;
    if ((tag & 0x3FFF) == kFileNumberTag && inlineData) return LoadDWord(entry + 2, bigEndian);
    if (tag >= CrwTag::kFirstInlineData) continue;
    if (at < start || size > length || at + size > end) continue;
    const std::uint8_t kind = static_cast<std::uint8_t>(tag >> 8) & 0x38;
    if (kind == CrwTag::kSubHeapHigh || kind == CrwTag::kSubHeapHighAlt) {
      if (const std::uint32_t number = FindFileNumber(data, at, size, bigEndian, depth + 1)) return number;
    } else if ((tag & 0x3FFF) == kFileNumberTag && size >= 4) {
      return LoadDWord(data + at, bigEndian);
    }
  }
  return 0;
}

std::string AfterPrefix(const std::vector<std::string>& lines, std::string_view prefix) {
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return {};
}

// A file may carry a metadata trailer after its heap that repeats the root
// directory's pointer; cameras write far less than this.
constexpr std::int64_t kMaxTrailer = std::int64_t{1} << 20;

// The first size, counted from the header, at which a root directory ends
// exactly where its pointer begins, or -1. A camera file's heap ends so; in
// random bytes a position passes with a chance of about 1 in 10^11. The size
// search runs down from a little past it instead of from the window's end, so
// its work grows with the file, not with what follows it on the card.
std::int64_t FirstClosedRootEnd(const FileImage& window, bool bigEndian, std::uint32_t headerLength) {
  const std::uint8_t* data = window.Data();
  for (std::int64_t size = std::int64_t{headerLength} + 16; size <= window.Size(); ++size) {
    const std::int64_t directory = std::int64_t{headerLength} + LoadDWord(data + size - 4, bigEndian);
    const std::int64_t listed = size - 4 - directory - 2;
    if (listed < 10 || listed > 10 * kMaxDirectoryEntries || listed % 10 != 0) continue;
    if (LoadWord(data + directory, bigEndian) == listed / 10) return size;
  }
  return -1;
}

bool Search(FileImage& image, AnalysisState& state, LogLines& lines) {
  HeadlessPlatform platform;
  RepairContext context{state, lines, platform};
  return RepairLoadedImage(context, image, "card");
}

}  // namespace

CrwEnd FindCrwEnd(FileImage& window, FileImage& scratch) {
  AnalysisState state;
  LogLines lines;
  CrwEnd end;
  AnalysisState header;
  window.SetPosition(0);
  end.isCrw = CheckHeader(header, window);
  window.SetPosition(0);
  if (!end.isCrw) return end;
  const std::int64_t closed = FirstClosedRootEnd(window, header.BigEndian, header.HLen);
  bool found = false;
  if (closed > 0 && closed + kMaxTrailer < window.Size()) {
    scratch.Assign(window.Data(), closed + kMaxTrailer);
    lines.Clear();
    found = Search(scratch, state, lines) && SearchFoundSize(state);
  }
  if (!found) {
    lines.Clear();
    found = Search(window, state, lines) && SearchFoundSize(state);
  }
  if (!found) return end;
  end.trueSize = state.FFilesize;
  if (state.FoundJPEG && std::int64_t{state.JPEGStart} + state.JPEGSize <= end.trueSize) {
    end.thumbnailStart = state.JPEGStart;
    end.thumbnailSize = state.JPEGSize;
  }
  const std::string make = AfterPrefix(lines.Lines(), "Make: ");
  const std::string model = AfterPrefix(lines.Lines(), "Model: ");
  end.makeAndModel = CameraName(make, model);
  end.fileNumber = FindFileNumber(window.Data(), state.HLen, end.trueSize - state.HLen, state.BigEndian, 0);
  return end;
}

}  // namespace mendrake
