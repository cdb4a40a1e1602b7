#include "tests/support/HostileFiles.h"

namespace mendrake::testing {
namespace {

constexpr std::uint32_t kHeaderLength = 26;
constexpr std::uint16_t kSubHeap = 0x300A;
constexpr std::uint16_t kSubHeapAlt = 0x2804;
// Camera files nest three deep; these go far past any sane bound.
constexpr int kFanOutLevels = 64;
constexpr int kFanOutWidth = 256;

// The records every camera file has, less the decoder table: the search never
// succeeds and so tries every candidate size down to the root heap's start.
HeapBuilder& AddRecordsButTheTable(HeapBuilder& heap) {
  return heap.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60"))
      .Record(0x102A, ShotInfoRecord(1, false))
      .Record(0x1031, SensorInfoRecord(3072, 2048, false))
      .Record(0x2005, Filler(16, 0x5A));
}

Bytes FileWithRoot(const HeapBuilder& root) {
  CrwFile file;
  file.root = root;
  return file.Build();
}

// A heap whose single record is the next level, named by kFanOutWidth entries:
// each level multiplies the walks of the one below by 256.
HeapBuilder FanOut(int levels) {
  HeapBuilder level;
  AddRecordsButTheTable(level);
  for (int i = 0; i < levels; ++i) {
    HeapBuilder parent;
    parent.SubHeap(kSubHeap, level);
    // The builder stores the first sub-heap at offset 0; the rest name it again.
    const Bytes child = level.Build(false);
    for (int k = 1; k < kFanOutWidth; ++k) parent.Entry(kSubHeap, static_cast<std::uint32_t>(child.size()), 0);
    level = parent;
  }
  return level;
}

Bytes SubHeapSpanningItsParent() {
  // The root's length does not depend on the entry's values: build twice.
  auto root = [](std::uint32_t rootLength) {
    HeapBuilder heap;
    AddRecordsButTheTable(heap).Entry(kSubHeap, rootLength, 0);
    return heap;
  };
  const std::size_t length = root(0).Build(false).size();
  return FileWithRoot(root(static_cast<std::uint32_t>(length)));
}

Bytes SubHeapNamingTheRootThroughAWrappedOffset() {
  // A sub-heap at root offset 100 whose own sub-heap entry points 100 bytes
  // back: its offset is only reached by wrapping past 2^32.
  constexpr std::uint32_t kChildAt = kHeaderLength + 100;
  auto root = [](std::uint32_t rootLength) {
    HeapBuilder child;
    child.Record(0x080A, MakeModelRecord("Canon", "Loop")).Entry(kSubHeapAlt, rootLength, kHeaderLength - kChildAt);
    HeapBuilder heap;
    heap.Padding(100).SubHeap(kSubHeap, child).Record(0x2005, Filler(16, 0x5A));
    return heap;
  };
  const std::size_t length = root(0).Build(false).size();
  return FileWithRoot(root(static_cast<std::uint32_t>(length)));
}

Bytes DeepFanOut() {
  HeapBuilder root;
  root.SubHeap(kSubHeap, FanOut(kFanOutLevels));
  return FileWithRoot(root);
}

Bytes ZeroTailBehind(const HeapBuilder& root) {
  Bytes file = FileWithRoot(root);
  AppendJunk(file, JunkKind::kZeros, kHostileZeroTail);
  return file;
}

Bytes PlausibleDirectoryThenZeros() {
  HeapBuilder root;
  AddRecordsButTheTable(root).DirectoryFirst();
  return ZeroTailBehind(root);
}

Bytes PlausibleDirectoryWithFanOutThenZeros() {
  HeapBuilder root;
  root.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60")).SubHeap(kSubHeap, FanOut(16)).DirectoryFirst();
  return ZeroTailBehind(root);
}

Bytes DistinctDirectoriesEachFanningOut() {
  // Many copies of one directory, each naming a deep fan-out 256 times, and a
  // tail whose every fourth candidate size points at another copy: no walk is
  // a replay of an earlier one, so only the bound on entries per file ends the work.
  constexpr int kCopies = 1200;
  const Bytes fanOut = FanOut(10).Build(false);
  HeapBuilder directory;
  for (int k = 0; k < kFanOutWidth; ++k) directory.Entry(kSubHeap, static_cast<std::uint32_t>(fanOut.size()), 0);
  Bytes copy = directory.Build(false);
  copy.resize(copy.size() - 4);  // the directory alone, without its heap's pointer

  CrwFile header;
  header.headerLength = kHeaderLength;
  Bytes file = header.Build();
  file.resize(kHeaderLength);
  file.insert(file.end(), fanOut.begin(), fanOut.end());
  Bytes tail;
  for (int i = 0; i < kCopies; ++i) {
    const auto offset = static_cast<std::uint32_t>(file.size() - kHeaderLength);
    file.insert(file.end(), copy.begin(), copy.end());
    for (int b = 0; b < 4; ++b) tail.push_back(static_cast<std::uint8_t>(offset >> (8 * b)));
  }
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

Bytes RecordsAtTheLastByte() {
  // Every record starts at the file's last byte; the sizes claim 4 GiB.
  auto root = [](std::uint32_t lastByte) {
    const std::uint32_t offset = lastByte - kHeaderLength;
    HeapBuilder heap;
    heap.Record(0x1835, Filler(8, 0x44))
        .Entry(0x102A, 0xFFFFFFFF, offset)
        .Entry(0x1031, 0xFFFFFFFF, offset)
        .Entry(0x2007, 0xFFFFFFFF, offset)
        .Entry(kSubHeap, 0xFFFFFFFF, offset)
        .Entry(kSubHeapAlt, 1, offset)
        .Entry(0x2005, 0xFFFFFFFF, offset)
        .Entry(0x080A, 0xFFFFFFFF, offset);
    return heap;
  };
  const std::size_t size = FileWithRoot(root(kHeaderLength + 1)).size();
  return FileWithRoot(root(static_cast<std::uint32_t>(size - 1)));
}

Bytes SizesOfFourGiB() {
  HeapBuilder root;
  root.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60"))
      .Record(0x1031, SensorInfoRecord(3072, 2048, false))
      .Record(0x1835, Filler(8, 0x44))
      .Record(0x2005, Filler(8, 0x5A))
      .Record(0x2007, Filler(8, 0xD8))
      .Entry(0x2005, 0xFFFFFFFF, 0)
      .Entry(0x2007, 0xFFFFFFFF, 0)
      .Entry(kSubHeap, 0xFFFFFFFF, 0)
      .Entry(kSubHeapAlt, 0xFFFFFFFF, 8);
  return FileWithRoot(root);
}

Bytes OffsetsThatWrap() {
  // Offsets past 2^32 - 26 wrap, with the root's start added, to the header:
  // to 25 (passes the checks and reads the header's padding), then to 10 (stops).
  HeapBuilder root;
  AddRecordsButTheTable(root)
      .Entry(0x080A, 4, 0xFFFFFFFF)
      .Entry(0x1031, 4, 0xFFFFFFFF)
      .Entry(0x102A, 4, 0xFFFFFFFF)
      .Entry(kSubHeap, 0xFFFFFFFF, 0xFFFFFFFF)
      .Entry(0x2007, 0xFFFFFFFF, 0xFFFFFFFF - kHeaderLength + 11)
      .Entry(0x1835, 4, 0xFFFFFFFF - kHeaderLength + 11);
  return FileWithRoot(root);
}

Bytes Header(std::uint32_t headerLength, std::size_t keep) {
  CrwFile file;
  file.headerLength = 14;
  Bytes bytes = file.Build();
  bytes.resize(keep);
  bytes[2] = static_cast<std::uint8_t>(headerLength);
  return bytes;
}

Bytes ThirteenBytes() { return Header(kHeaderLength, 13); }
Bytes FourteenBytes() { return Header(kHeaderLength, 14); }
Bytes FourteenBytesRootAtZero() { return Header(0, 14); }

Bytes HeaderLengthPastTheEnd() {
  Bytes file = FileWithRoot(FanOut(2));
  file[2] = file[3] = file[4] = file[5] = 0xFF;
  return file;
}

}  // namespace

const std::vector<HostileCase>& HostileCases() {
  static const std::vector<HostileCase> cases = {
      {"sub-heap-spanning-its-parent", SubHeapSpanningItsParent},
      {"sub-heap-naming-the-root-by-wrapped-offset", SubHeapNamingTheRootThroughAWrappedOffset},
      {"fan-out-256-wide-64-deep", DeepFanOut},
      {"plausible-directory-then-64-MiB-of-zeros", PlausibleDirectoryThenZeros},
      {"plausible-directory-with-fan-out-then-64-MiB-of-zeros", PlausibleDirectoryWithFanOutThenZeros},
      {"distinct-directories-each-fanning-out", DistinctDirectoriesEachFanningOut},
      {"records-at-the-last-byte", RecordsAtTheLastByte},
      {"sizes-of-4-GiB", SizesOfFourGiB},
      {"offsets-that-wrap", OffsetsThatWrap},
      {"13-bytes", ThirteenBytes},
      {"14-bytes", FourteenBytes},
      {"14-bytes-root-at-0", FourteenBytesRootAtZero},
      {"header-length-past-the-end", HeaderLengthPastTheEnd},
  };
  return cases;
}

}  // namespace mendrake::testing
