#pragma once
#include "recovery/CanonRawDecoder.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>
namespace mendrake {
// What the raw data of one whole candidate CRW file says about it.
enum class RawDataVerdict {
  Plausible,  // decodes within the sensor's range, rows continuous, ends at the record's end
  Broken,     // a stretch decodes implausibly: these bytes are not one photo's
  Unknown,    // no compressed raw data this decoder knows (another layout, uncompressed, dummy payload)
};
struct RawDataCheck {
  RawDataVerdict verdict = RawDataVerdict::Unknown;
  std::int64_t signalFrom = -1;  // file offset where the compressed stream begins; bytes before it (low bits, table) carry no signal
  std::int64_t signalTo = -1;    // and where the decode's word ends: of the bytes after its stream it says nothing
  std::int64_t brokenAt = -1;    // file offset near where the decode first broke (Broken only)
  std::string reason;            // for the log line
};
// file: a whole candidate CRW file from its header on.
RawDataCheck CheckRawData(std::span<const std::uint8_t> file);

// The low bits carry no signal, but they are packed values, not coded ones:
// every value of a byte is as likely, so an FF byte is followed by any byte.
// Compressed data (another photo's stream, a JPEG's scan) follows each FF
// with a stuffed 00 (or a restart marker). Returns the file offset of the
// first cluster (clusterSize bytes counted from the file's first byte) of the
// low bits in the file from whose start on the FF bytes are all so followed,
// through the cluster and on until kMinStuffedMarks of them are counted, or
// up to a JPEG's end marker (a THM's last cluster) after kMinMarksBeforeEnd
// of them; -1 when none is, or the file has no low bits.
struct LowBitsLimits {
  // A camera's stream holds an FF byte in some 800; a cluster of low bits
  // passes for coded data with a chance of (9/256)^4, one in 600,000, which
  // refuses a join, never makes one.
  static constexpr int kMinStuffedMarks = 4;
  // An end marker is a pair that low bits hold one time in 65,536 at each
  // byte: after two stuffed marks from the cluster's start, a cluster of 512
  // bytes of low bits passes with a chance of about one in fifty million.
  static constexpr int kMinMarksBeforeEnd = 2;
};
std::int64_t CodedClusterInLowBits(std::span<const std::uint8_t> file, std::int64_t clusterSize);

// For a search of pieces, a cluster at a time: the decode of the pieces so far
// is a CanonRawDecoder (recovery/CanonRawDecoder.h), started from the layout
// that the file's records give (recovery/CanonRawLayout.h) and fed the file's
// bytes from its first on; a copy of it tries a candidate.

// Whether a candidate stretch continues the decode. Another stream's bytes
// decode plausibly for a while before they break it, so a candidate is taken
// only once the decode has gone CanonRawDecoder::kSpliceReachBlocks blocks
// past the candidate's start (or the record has ended with the decode
// complete); until then, the bytes that would follow it decide.
enum class ContinuationVerdict {
  Continues,  // the decode went the splice reach past the candidate's start, or completed
  Breaks,     // the decode broke: not this photo's next bytes (or not after these)
  Undecided,  // too few values to tell: feed what would follow to `after`, and judge again
};
struct Continuation {
  ContinuationVerdict verdict = ContinuationVerdict::Undecided;
  CanonRawDecoder after;  // the decode with the candidate's bytes fed
};
// Each candidate tried on a copy of before; before is not changed.
std::vector<Continuation> TryContinuations(const CanonRawDecoder& before,
                                           std::span<const std::span<const std::uint8_t>> candidates);
// The verdict on a decode that was at from before its candidate was fed, and
// is now at after (also after more bytes that follow the candidate).
ContinuationVerdict JudgeContinuation(const CanonRawDecoder& from, const CanonRawDecoder& after);


// The cluster starts (clusters of clusterSize bytes counted from the file's
// first byte, as a file lies on a card) at which the bytes that broke the
// decode may begin, so that a piece ends at one of them: from the start of
// the cluster that holds EarliestSplice() to BrokenAt(). When EarliestSplice()
// is the stream's start, the piece may as well end anywhere before the
// stream, in bytes that carry no signal (see RawDataCheck::signalFrom). Empty
// while the decode holds.
std::vector<std::int64_t> ClusterStartsBeforeBreak(const CanonRawDecoder& broken, std::int64_t clusterSize);

}  // namespace mendrake
