#include "recovery/RawDataCheck.h"

#include "recovery/CanonRawDecoder.h"
#include "recovery/CanonRawLayout.h"

#include <algorithm>

namespace mendrake {

namespace {

// Whether the stretch reads as coded data from its start: every FF byte
// followed as coded data follows it, through its first cluster bytes and on
// until kMinStuffedMarks of them are counted, or up to a JPEG's end marker
// after kMinMarksBeforeEnd of them (the last cluster of a THM or a JPG holds
// its coded data's tail, then slack). A cluster of coded data with too few
// marks of its own is told by the clusters after it, where they are coded
// too.
bool ReadsAsCodedData(std::span<const std::uint8_t> stretch, std::size_t cluster) {
  constexpr std::uint8_t kEndOfImage = 0xD9;
  int marks = 0;
  for (std::size_t i = 0; i + 1 < stretch.size(); ++i) {
    if (marks >= LowBitsLimits::kMinStuffedMarks && i >= cluster) return true;
    if (stretch[i] != 0xFF) continue;
    const std::uint8_t next = stretch[i + 1];
    if (next == kEndOfImage) return marks >= LowBitsLimits::kMinMarksBeforeEnd;
    if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return false;
    ++marks;
    ++i;
  }
  return marks >= LowBitsLimits::kMinStuffedMarks;
}

}  // namespace

std::int64_t CodedClusterInLowBits(std::span<const std::uint8_t> file, std::int64_t clusterSize) {
  std::string whyNot;
  const std::optional<CanonRawLayout> layout = ReadCanonRawLayout(file, whyNot);
  if (!layout || !layout->lowBits || clusterSize <= 0) return -1;
  const std::int64_t from = layout->recordStart;
  const std::int64_t to = std::min<std::int64_t>(from + layout->LowBitsSize(), static_cast<std::int64_t>(file.size()));
  for (std::int64_t cluster = from / clusterSize * clusterSize; cluster < to; cluster += clusterSize) {
    const std::int64_t begin = std::max(cluster, from);
    const auto stretch = file.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(to - begin));
    if (ReadsAsCodedData(stretch, static_cast<std::size_t>(cluster + clusterSize - begin))) {
      return cluster;
    }
  }
  return -1;
}

RawDataCheck CheckRawData(std::span<const std::uint8_t> file) {
  RawDataCheck check;
  std::string whyNot;
  const std::optional<CanonRawLayout> layout = ReadCanonRawLayout(file, whyNot);
  if (!layout) {
    check.reason = "no compressed raw data to decode: " + whyNot;
    return check;
  }
  check.signalFrom = layout->StreamStart();
  check.signalTo = layout->RecordEnd() - CanonRawDecoder::kMaxTrailingBytes;
  CanonRawDecoder decoder(*layout);
  decoder.Feed(file.first(static_cast<std::size_t>(layout->RecordEnd())));
  if (decoder.Broken()) {
    check.verdict = RawDataVerdict::Broken;
    check.brokenAt = decoder.BrokenAt();
    check.reason = "the raw data breaks near byte " + std::to_string(decoder.BrokenAt()) + ": " +
                   std::string(CanonRawDecoder::FaultText(decoder.FaultFound()));
    return check;
  }
  if (!decoder.Complete()) {
    check.verdict = RawDataVerdict::Broken;
    check.brokenAt = layout->RecordEnd();
    check.reason = "the raw data stops before its record's end";
    return check;
  }
  check.verdict = RawDataVerdict::Plausible;
  check.reason = "the raw data decodes (" + std::to_string(layout->width) + "x" + std::to_string(layout->height) +
                 (layout->lowBits ? ", with low bits" : "") + ")";
  return check;
}

ContinuationVerdict JudgeContinuation(const CanonRawDecoder& from, const CanonRawDecoder& after) {
  if (after.Broken()) return ContinuationVerdict::Breaks;
  if (after.Complete() || after.ValuesDecoded() >= from.ValuesDecoded() + 64 * (CanonRawDecoder::kSpliceReachBlocks + 1)) {
    return ContinuationVerdict::Continues;
  }
  return ContinuationVerdict::Undecided;
}

std::vector<Continuation> TryContinuations(const CanonRawDecoder& before,
                                           std::span<const std::span<const std::uint8_t>> candidates) {
  std::vector<Continuation> tried;
  tried.reserve(candidates.size());
  for (const std::span<const std::uint8_t> candidate : candidates) {
    CanonRawDecoder after = before;
    after.Feed(candidate);
    tried.push_back({JudgeContinuation(before, after), after});
  }
  return tried;
}

std::vector<std::int64_t> ClusterStartsBeforeBreak(const CanonRawDecoder& broken, std::int64_t clusterSize) {
  std::vector<std::int64_t> starts;
  if (!broken.Broken() || clusterSize <= 0) return starts;
  const std::int64_t first = broken.EarliestSplice() / clusterSize * clusterSize;
  for (std::int64_t at = first; at <= broken.BrokenAt(); at += clusterSize) starts.push_back(at);
  return starts;
}

}  // namespace mendrake
