// The one reader of CIFF heaps, and the decoders that read a heap beside it:
// each reads the same pointer, directory and entries as the reader, and all
// of them take one rule for what a sub-heap is.
#include "analysis/AnalysisState.h"
#include "analysis/CiffHeap.h"
#include "analysis/FileImage.h"
#include "analysis/HeaderCheck.h"
#include "analysis/HeapWalker.h"
#include "analysis/RootHeapEnd.h"
#include "analysis/SizeSearch.h"
#include "recovery/CrwEnd.h"
#include "recovery/CrwStructureCheck.h"
#include "recovery/EndScan.h"
#include "recovery/RecoveryLimits.h"
#include "tests/support/AnalysisHarness.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> View(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

TEST(CiffReader, ReadsNothingThatDoesNotLieWhollyInsideTheBytes) {
  for (const bool big : {false, true}) {
    Bytes bytes;
    Put16(bytes, 0x1234, big);
    Put32(bytes, 0x89ABCDEF, big);
    const CiffBytes reader(View(bytes), big);
    EXPECT_EQ(reader.Word(0), 0x1234);
    EXPECT_EQ(reader.DWord(2), 0x89ABCDEFu);
    EXPECT_EQ(reader.Word(5), std::nullopt);
    EXPECT_EQ(reader.DWord(3), std::nullopt);
    EXPECT_EQ(reader.Word(-1), std::nullopt);
    EXPECT_TRUE(reader.Span(4, 3).empty());
    EXPECT_EQ(reader.Span(4, 2).size(), 2u);

    // A heap whose pointer lies past the bytes has no directory, nor one
    // whose count does not fit; an entry cut by the end is nothing.
    EXPECT_EQ(CiffHeap(reader, 0, 8).DirectoryAt(), std::nullopt);
    EXPECT_EQ(CiffHeap(reader, 2, 4).DirectoryAt(), 2 + 0x89ABCDEF);
    EXPECT_EQ(CiffHeap(reader, 2, 4).Directory(), std::nullopt);
    Bytes directory = DirectoryBytes({{0x2005, 4, 0}, {0x2007, 4, 4}}, big);
    directory.pop_back();
    const CiffBytes cut(View(directory), big);
    const CiffDirectory read(cut, 0, 2);
    EXPECT_EQ(read.Entry(0)->tag, 0x2005);
    EXPECT_EQ(read.Entry(0)->offset, 0u);
    EXPECT_EQ(read.Entry(1), std::nullopt);
  }
}

TEST(CiffReader, FindsARecordByTagInTheSubHeapsWhereTheFileHoldsIt) {
  for (const bool big : {false, true}) {
    const Bytes file = MakeCameraFile({.bigEndian = big, .rawDataSize = 1000});
    const CiffBytes bytes(View(file), big);
    const CiffHeap root(bytes, 26, static_cast<std::int64_t>(file.size()) - 26);
    // The builder puts the raw data first in the root heap.
    EXPECT_EQ(FindCiffRecord(root, CrwTag::kRawData)->at, 26);
    EXPECT_EQ(FindCiffRecord(root, CrwTag::kRawData)->size, 1000);
    // The sensor information lies three heaps deep; its width and height are
    // where the walker reads them.
    const std::optional<CiffRecord> sensor = FindCiffRecord(root, CrwTag::kSensorInfo);
    ASSERT_TRUE(sensor);
    EXPECT_EQ(bytes.Word(sensor->at + 2), 3072);
    EXPECT_EQ(bytes.Word(sensor->at + 4), 2048);
    EXPECT_TRUE(FindCiffRecord(root, CrwTag::kDecoderTable));
    EXPECT_FALSE(FindCiffRecord(root, 0x1234));

    const Bytes without = MakeCameraFile({.bigEndian = big, .hasDecoderTable = false});
    const CiffBytes other(View(without), big);
    EXPECT_FALSE(FindCiffRecord(CiffHeap(other, 26, static_cast<std::int64_t>(without.size()) - 26),
                                CrwTag::kDecoderTable));
  }
}

// A file whose root holds the four required records and a sub-heap under
// tag, which holds a file number and a directory that does not close at its
// pointer.
Bytes FileWithOddHeap(std::uint16_t tag, bool big) {
  HeapBuilder inner;
  inner.Record(CrwTag::kFileNumber, [&] {
    Bytes number;
    Put32(number, 1000042, big);
    return number;
  }());
  Bytes innerBytes = inner.Build(big);
  // One byte more between the directory and its pointer.
  innerBytes.insert(innerBytes.end() - 4, 0);
  HeapBuilder props;
  props.Record(CrwTag::kMakeModel, MakeModelRecord("Canon", "Canon EOS D60"))
      .Record(CrwTag::kSensorInfo, SensorInfoRecord(3072, 2048, big))
      .Record(CrwTag::kDecoderTable, Filler(64, 1));
  CrwFile file;
  file.bigEndian = big;
  file.root.Record(CrwTag::kRawData, Filler(256, 7)).SubHeap(0x300A, props).Record(tag, innerBytes);
  return file.Build();
}

TEST(CiffReader, EveryReaderTakesOneRuleForASubHeapTheWalkers) {
  for (const bool big : {false, true}) {
    // 0x3004 is a sub-heap: the structure check enters it and finds its
    // directory open, the file number search finds its number. 0x2904 and
    // 0x3104 share only the kind bits: no reader enters them.
    for (const auto& [tag, entered] : {std::pair{std::uint16_t{0x3004}, true}, {std::uint16_t{0x2904}, false},
                                      {std::uint16_t{0x3104}, false}}) {
      SCOPED_TRACE(tag);
      const Bytes file = FileWithOddHeap(tag, big);
      EXPECT_EQ(CiffEntry{tag}.IsSubHeap(), entered);
      const std::string fault =
          CrwStructureFault(file.data(), static_cast<std::int64_t>(file.size()), big, 26, 0, 0, false);
      EXPECT_EQ(fault.empty(), !entered) << fault;
      FileImage window;
      window.Assign(file.data(), static_cast<std::int64_t>(file.size()));
      FileImage scratch;
      const CrwEnd end = FindCrwEnd(window, scratch);
      EXPECT_EQ(end.trueSize, static_cast<std::int64_t>(file.size())) << end.whyNot;
      EXPECT_EQ(end.fileNumber, entered ? 1000042u : 0u);
    }
  }
}

TEST(CiffReader, HeapsNamingOneSubHeapOverAndOverAreReadWithinOneWalksBounds) {
  // Seven levels, each naming the level below twenty times: a billion heaps
  // to a reader without bounds.
  const bool big = false;
  HeapBuilder level;
  level.Record(CrwTag::kShotInfo, ShotInfoRecord(0, big));
  for (int depth = 0; depth < 7; ++depth) {
    const auto size = static_cast<std::uint32_t>(level.Build(big).size());
    HeapBuilder parent;
    parent.SubHeap(0x300A, level);
    for (int again = 0; again < 19; ++again) parent.Entry(0x300A, size, 0);
    level = parent;
  }
  HeapBuilder props;
  props.Record(CrwTag::kMakeModel, MakeModelRecord("Canon", "Canon EOS D60"))
      .Record(CrwTag::kSensorInfo, SensorInfoRecord(3072, 2048, big))
      .Record(CrwTag::kDecoderTable, Filler(64, 1));
  CrwFile crafted;
  crafted.root.Record(CrwTag::kRawData, Filler(256, 7)).SubHeap(0x300A, props).SubHeap(0x300B, level);
  const Bytes file = crafted.Build();

  EXPECT_EQ(CrwStructureFault(file.data(), static_cast<std::int64_t>(file.size()), big, 26, 0, 0, false),
            "its heaps hold too many sub-heaps");
  FileImage window;
  window.Assign(file.data(), static_cast<std::int64_t>(file.size()));
  FileImage scratch;
  const CrwEnd end = FindCrwEnd(window, scratch);
  EXPECT_EQ(end.trueSize, static_cast<std::int64_t>(file.size())) << end.whyNot;
  EXPECT_EQ(end.fileNumber, 0u);
  const CiffBytes bytes(View(file), big);
  EXPECT_FALSE(FindCiffRecord(CiffHeap(bytes, 26, static_cast<std::int64_t>(file.size()) - 26), 0x1234));
}

// The corpus: the camera file, builder-made files in both orders with junk
// after them, and every committed fuzz input.
std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> files;
  files.emplace_back("CanonRaw.crw", ReadFile(std::string(MENDRAKE_SAMPLES_DIR) + "/CanonRaw.crw"));
  for (const bool big : {false, true}) {
    Bytes file = MakeCameraFile({.bigEndian = big});
    AppendJunk(file, JunkKind::kCopyOfStart, 3000);
    files.emplace_back(big ? "built MM" : "built II", file);
  }
  for (const char* target : {"analysis", "card", "preview"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(MENDRAKE_FUZZ_CORPUS_DIR) / target)) {
      if (entry.is_regular_file()) files.emplace_back(entry.path().string(), ReadFile(entry.path().string()));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// What the reader says the size search's first checks of a root walk should
// give, and the end of a root heap.
std::int64_t ReaderRootDirectory(const CiffHeap& root) {
  if (root.PointerAt() <= kHeaderEnd) return -1;
  const std::optional<CiffDirectory> directory = root.Directory();
  if (!directory || directory->At() <= kHeaderEnd) return -1;
  if (directory->Count() == 0 || directory->Count() > kMaxDirectoryEntries) return -1;
  return directory->At();
}

bool ReaderEndsRootHeap(const CiffHeap& root) {
  const CiffDirectory directory = *root.Directory();
  const std::int64_t heapEnd = directory.End() + 4;
  if (heapEnd == root.End()) return true;
  if (heapEnd > root.End() || root.End() - heapEnd > kMaxRootHeapTrailer) return false;
  return root.Bytes().DWord(heapEnd - 4) == root.Bytes().DWord(root.PointerAt());
}

// The search's candidate checks and the closed ends of the end search, at
// every size of a file that passes the header check.
void ExpectCandidateChecksAgree(const Bytes& file) {
  FileImage image;
  image.Assign(file.data(), static_cast<std::int64_t>(file.size()));
  AnalysisState state;
  if (!CheckHeader(state, image)) return;
  const CiffBytes bytes(View(file), state.BigEndian);
  std::vector<std::int64_t> closed;
  for (std::int64_t size = state.HLen + 1; size <= image.Size(); ++size) {
    const CiffHeap root(bytes, state.HLen, size - state.HLen);
    const std::int64_t directory = ReaderRootDirectory(root);
    ASSERT_EQ(PlausibleRootDirectory(image, state.HLen, size, state.BigEndian), directory) << "size " << size;
    if (directory >= 0) {
      ASSERT_EQ(CandidateEndsRootHeap(image, size, directory, state.BigEndian), ReaderEndsRootHeap(root));
    }
    if (directory >= 0 && size >= state.HLen + 16 && root.Directory()->End() == root.PointerAt()) {
      closed.push_back(size);
    }
  }
  std::vector<std::int64_t> found;
  for (std::int64_t at = NextClosedRootEnd(image, state.BigEndian, state.HLen, 0); at > 0;
       at = NextClosedRootEnd(image, state.BigEndian, state.HLen, at + 1)) {
    found.push_back(at);
  }
  EXPECT_EQ(found, closed);
}

// The root ends found without a start: exactly the directories the reader
// reads as a root's, in each byte order.
void ExpectRootEndsAgree(const Bytes& card) {
  const auto length = static_cast<std::int64_t>(card.size());
  std::vector<RootEnd> ends;
  FindRootEnds(card.data(), length, 0, length, 0, RecoveryLimits::kMaxCrwSize, ends);
  std::set<std::tuple<std::int64_t, std::int64_t, bool>> scanned;
  for (const RootEnd& end : ends) scanned.insert({end.end, end.heapStart, end.bigEndian});

  std::set<std::tuple<std::int64_t, std::int64_t, bool>> read;
  for (const bool big : {false, true}) {
    const CiffBytes bytes(View(card), big);
    for (std::int64_t at = 0; at + 1 < length; ++at) {
      const std::uint16_t count = *bytes.Word(at);
      if (count == 0 || count > EndScanLimits::kMaxRootEntries) continue;
      const CiffDirectory directory(bytes, at, count);
      const std::optional<std::uint32_t> heapLength = bytes.DWord(directory.End());
      if (!heapLength || *heapLength == 0 || *heapLength > RecoveryLimits::kMaxCrwSize) continue;
      if (at - std::int64_t{*heapLength} < kHeaderEnd) continue;
      const CiffHeap heap(bytes, at - *heapLength, directory.End() + 4 - (at - *heapLength));
      if (heap.DirectoryAt() != at) continue;
      bool inside = true;
      bool holdsData = false;
      for (std::uint16_t i = 0; i < count && inside; ++i) {
        const CiffEntry entry = *directory.Entry(i);
        inside = entry.tag < 0x8000 && (entry.DataInEntry() || heap.RecordAt(entry) + entry.size <= at);
        holdsData = holdsData || (!entry.DataInEntry() && entry.size > 0);
      }
      if (inside && holdsData) read.insert({heap.End(), heap.Start(), big});
    }
  }
  EXPECT_EQ(scanned, read);
}

// Of a file the size search repairs and the structure check passes, the
// walker met the records the reader finds, and its thumbnail is one of them.
void ExpectWalkerFindsTheReadersRecords(const Bytes& file) {
  Analysis analysis;
  analysis.image.Assign(file.data(), static_cast<std::int64_t>(file.size()));
  RepairContext context = analysis.Context();
  if (!RepairLoadedImage(context, analysis.image, "corpus") || !SearchFoundSize(analysis.state)) return;
  const AnalysisState& state = analysis.state;
  const std::int64_t size = state.FFilesize;
  if (!CrwStructureFault(file.data(), size, state.BigEndian, state.HLen, 0, 0, false).empty()) return;
  const CiffBytes bytes(std::span(file.data(), static_cast<std::size_t>(size)), state.BigEndian);
  const CiffHeap root(bytes, state.HLen, size - state.HLen);
  EXPECT_TRUE(FindCiffRecord(root, CrwTag::kRawData));
  EXPECT_TRUE(FindCiffRecord(root, CrwTag::kDecoderTable));
  EXPECT_TRUE(FindCiffRecord(root, CrwTag::kSensorInfo));
  std::vector<std::pair<std::int64_t, std::int64_t>> thumbnails;
  VisitCiffEntries(root, [&](const CiffHeap& heap, const CiffEntry& entry) {
    if (entry.tag == CrwTag::kJpegThumbnail) thumbnails.emplace_back(heap.RecordAt(entry), entry.size);
    return false;
  });
  EXPECT_EQ(state.FoundJPEG, !thumbnails.empty());
  if (state.FoundJPEG) {
    EXPECT_NE(std::find(thumbnails.begin(), thumbnails.end(),
                        std::pair<std::int64_t, std::int64_t>{state.JPEGStart, state.JPEGSize}),
              thumbnails.end());
  }
}

TEST(CiffReader, EveryDecoderReadsWhatTheReaderReadsOnTheCorpus) {
  int repaired = 0;
  for (const auto& [name, file] : Corpus()) {
    SCOPED_TRACE(name);
    ExpectCandidateChecksAgree(file);
    ExpectRootEndsAgree(file);
    ExpectWalkerFindsTheReadersRecords(file);
    Analysis analysis;
    analysis.image.Assign(file.data(), static_cast<std::int64_t>(file.size()));
    RepairContext context = analysis.Context();
    repaired += RepairLoadedImage(context, analysis.image, "corpus") && SearchFoundSize(analysis.state);
  }
  // The corpus holds files that repair, so that the walker's part was tried.
  EXPECT_GE(repaired, 3);
}

}  // namespace
}  // namespace mendrake::testing
