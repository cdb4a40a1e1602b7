#pragma once

#include "analysis/FileImage.h"
#include "cardfs/ClusterGrid.h"
#include "cardfs/FatMap.h"
#include "files/LargeBuffer.h"
#include "recovery/CrwEnd.h"
#include "recovery/DirectoryEvidence.h"
#include "recovery/EndScan.h"
#include "recovery/JoinReading.h"
#include "recovery/PieceChain.h"
#include "recovery/RecentBytes.h"
#include "recovery/WorkBudget.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace mendrake {

// Bounds of the join of two pieces, each with its reason.
struct JoinLimits {
  // The bytes between two pieces of one file. A camera continues a file at
  // the next free cluster, after every file written since its hole opened:
  // on a card used for months, hundreds of photos. The bound is in bytes, as
  // the photos are, whatever the cluster size; a waiting piece holds only
  // its own bytes (within kMaxWaitingBytes) while the card streams past.
  static constexpr std::int64_t kMaxGapBytes = std::int64_t{1} << 30;
  // First pieces held in memory while they wait for their ends; past this the
  // oldest gives up and is kept as damaged. Cameras leave a few holes at a
  // time, each smaller than one photo.
  static constexpr std::int64_t kMaxWaitingBytes = std::int64_t{64} << 20;
  // First pieces waiting at once: every end is tried against each, so a card
  // with a header at every sector must not line up thousands of them.
  static constexpr std::size_t kMaxWaitingPieces = 64;
  // The card's first bytes read again once it has ended, when a photo was
  // cut by its end: a camera whose allocator goes on after the last cluster
  // it wrote wraps to the first free clusters from the card's start, where
  // that photo's second piece lies. As much as the largest photo, once per
  // card; the ends of the files found there are kept for it.
  static constexpr std::int64_t kMaxWrapBytes = std::int64_t{64} << 20;
  // Cluster starts tried as the end of a first piece: where another file
  // begins, then the next CRW header.
  static constexpr std::size_t kMaxSplits = 8;
  // Cluster starts before a break of a first piece's own decode tried as its
  // end: the decode breaks within about a hundred values of a foreign
  // cluster, so the seam lies in the cluster of the break or the one before.
  static constexpr int kDecodedSplitsPerBreak = 2;
  // A first piece decoded for where it breaks is put before this many of an
  // end's last bytes: they hold the root directory and the properties that
  // say how the raw data is coded.
  static constexpr std::int64_t kProbeTailBytes = 16 << 10;
  // Ends a first piece is decoded against before it gives up asking: an end
  // of a photo of another length says nothing of where the piece ended.
  static constexpr int kMaxProbesPerPiece = 4;
  // Ends found inside an open window wait until it closes, so that a file
  // that holds one (a copy of a directory in its raw data) is known first; a
  // camera file's window holds a few chance ends, a crafted one thousands,
  // past which the later ones are weighed at once.
  static constexpr std::size_t kMaxDeferredEnds = 4096;
  // The card bytes before a second piece read back for the JPEG that ends
  // right before it: a camera's THM is a few KB, its JPG a few hundred.
  static constexpr std::int64_t kMaxJpegBeforeBytes = 512 << 10;
  // A camera's JPG read from its start for where it ends, as a file around a
  // seam: a few MB at the cameras' largest size.
  static constexpr std::int64_t kMaxJpegBytes = std::int64_t{8} << 20;
  static constexpr std::size_t kMaxJpegStarts = 65536;
  // Photos whose low-bit seams fix each other's side, in one run: where
  // holes filled one after another over the months, a few; each is weighed
  // whole, so the run is short.
  static constexpr std::size_t kMaxSeamRunFiles = 8;
  // Ends kept by a waiting piece whose size the card's directory gives: a
  // camera writes each size about once.
  static constexpr std::size_t kMaxFittedEnds = 4;
  // THMs whose extents are known, as files around a seam: one per photo.
  static constexpr std::size_t kMaxFileExtents = 65536;
  // Placings of three or four pieces remembered as failed, so that none is weighed twice.
  static constexpr std::size_t kMaxFailedPlacings = 65536;
  // A middle piece fixed by the files around it this many clusters long or
  // shorter joins only where no other stretch as long may be it (AnchoredPieces.cpp).
  static constexpr std::int64_t kMaxShortMiddleClusters = 16;
  // Bytes of a photo's compressed stream that a foreign cluster put over
  // them breaks the decode within, all but surely: a few dozen blocks.
  static constexpr std::int64_t kStreamBytesThatBreak = 512;
  // The links of seam runs remembered as weighed (SeamRun.cpp).
  static constexpr std::size_t kMaxWeighedLinks = 4096;
};

// The bytes from a CRW header on, up to where its window closed, when no true
// end lay among them.
struct FirstPiece {
  std::int64_t start = 0;
  std::vector<std::uint8_t> bytes;
  bool bigEndian = false;
  std::uint32_t headerLength = 26;
  std::string whyDamaged;  // how its window closed, for the line when no join is found
  // Its window closed at the next CRW header: a file begins right after it.
  bool closedByHeader = false;
  // Its window was cut by the card's end: it may go on at the card's start.
  bool cutByCardEnd = false;
};

// A file put together from two pieces, with what proved it.
struct JoinedFile {
  std::int64_t start = 0;
  const FileImage& bytes;  // the whole file, end.trueSize bytes
  const CrwEnd& end;
  std::int64_t gapClusters = 0;  // the second piece began this many clusters after the first ended
  // Its raw data decoded plausibly across the seam; false when the decoder
  // knows no such raw data and the structure alone decided.
  bool rawDataChecked = false;
  // Its seam lies in the low bits (or, in three pieces, its seams lie
  // where the files around fix them), and the card's directory gave its size.
  bool seamInLowBits = false;
  // Where it was put together from three or more pieces that its decode
  // followed, or from two whose second lies at the card's start, those
  // pieces on the card, in the file's order; else empty.
  std::vector<CardPiece> pieces;
  bool seamPastRawData = false;  // the seam so fixed lies past the raw data, not in the low bits
};

// A first piece waiting right before a window's header, which the window's
// bytes past as many as it holds continue as well as the window's own.
struct WindowRival {
  std::int64_t piece = -1;  // its header's card position; -1: none
  std::int64_t split = 0;   // its bytes, cut by the window's header
  // The cut lies past where the compressed stream begins, and both readings
  // decode there.
  bool bothDecode = false;
};

// Whether the pieces of a reading, its first seam moved back into the low
// bits, pass as well (recovery/LowBitsRival.cpp).
struct LowBitsRival {
  bool unweighed = false;  // the budget or the bytes kept did not allow it
  std::string fault;       // why the reading is not joined; empty: the rival fails
};

// Where the joiner's results go, in the order they are settled.
class PieceSink {
 public:
  virtual ~PieceSink() = default;
  virtual void Joined(const JoinedFile& file) = 0;
  // No end joins the piece, or two readings tie; reason says which.
  virtual void Unjoined(const FirstPiece& piece, const std::string& reason) = 0;
};

// Joins files written in two pieces, in the one pass over the card. A first
// piece waits for an end that no header claims (an end without a start).
// Every reading of such an end (each waiting piece it fits by arithmetic,
// each split of that piece) is weighed first, and then one decision is taken
// (JoinDecision.h): exactly one reading that passes every check is joined;
// two are a tie and neither is. While a piece waits, the last stretch of the
// card that a second piece may span is kept, so that nothing is read twice.
class PieceJoiner {
 public:
  // scratch is the size search's cut of a window, shared with the scan so
  // that its room is held once. Joins are tried only while the card's work
  // budget lasts, and spend from it before each copy.
  PieceJoiner(PieceSink& sink, FileImage& scratch, WorkBudget& budget);

  // The grid may change while pieces wait, as it is inferred from more headers.
  void SetGrid(const ClusterGrid& grid) { grid_ = grid; }
  // The card's FAT, where it survives: a piece never takes clusters that it
  // gives to another file.
  void SetMap(const FatMap* map) { map_ = map; }
  // The card's directory entries, as far as they have streamed past: a
  // reading of another size than an entry of its first cluster gives fails.
  void SetDirectories(const DirectoryEvidence* directories) { directories_ = directories; }
  // A CRW header at position: the first end of the heap that begins
  // headerLength bytes on belongs to that header's own file, not to a
  // waiting piece; a later end that lines up with it too (files of one size)
  // does not.
  void NoteHeader(std::int64_t position, std::uint32_t headerLength) {
    ownEnds_.emplace(position + headerLength, OwnFile{position, -1});
  }
  // The header whose heap begins at heapStart was written in one piece, which ends at end.
  void NoteOwnEnd(std::int64_t heapStart, std::int64_t end);
  // The first end of that heap is not its own file's: its raw data breaks.
  void NoteNotOwnEnd(std::int64_t heapStart) { ownEnds_[heapStart].end = 0; }
  // The scan gathers the bytes of a file from position on; ends found after
  // it are weighed once it has closed and said where its file ends.
  void WindowOpened(std::int64_t position) { openWindow_ = position; }
  void WindowClosed();
  // Takes a first piece; its own bytes may already hold its second piece.
  void Wait(FirstPiece piece);
  // The card's next block, in card order.
  void Feed(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);
  // The card's first kMaxWrapBytes read again, or none.
  using CardBytes = std::vector<std::uint8_t, LargeBufferAllocator<std::uint8_t>>;
  // The card has ended: a piece cut by its end is weighed against the ends
  // in the card's first bytes, which readCardStart gives (asked only then),
  // and every piece still waiting is settled as unjoined.
  void Finish(const std::function<CardBytes()>& readCardStart = {});
  bool Waiting() const { return !waiting_.empty(); }
  // A file found whole on the card (a THM) lies in [from, to).
  void NoteFileExtent(std::int64_t from, std::int64_t to);
  // The window's file at start, the bytes of file, closes at its own end:
  // the other reading of the same bytes that passes as well (the first
  // piece that its header cut, read on past as many of its bytes), if any.
  WindowRival RivalOfWindow(std::int64_t start, std::span<const std::uint8_t> file);

 private:
  struct Waiter {
    FirstPiece piece;
    std::vector<std::int64_t> splits;  // candidate first-piece lengths, in order
    ClusterGrid splitsGrid;            // the grid the splits were found on
    std::string rejected;              // why the end that fitted it best did not join
    int rejectedDepth = 0;             // how far that reading's weighing went
    bool probed = false;               // its own raw data told where it breaks
    int probes = 0;                    // times it was decoded for that
    int chainSearches = 0;             // times its pieces were sought by its decode
    std::string chainRejected;         // why the last search for its pieces joined nothing, when it got far
    // An end whose reading of this piece failed only as no file was found
    // yet beside its seam, and how many joined pieces were known then.
    std::optional<RootEnd> awaited;
    std::size_t awaitedSince = 0;
    // Ends that fit it by arithmetic and by the size the card's directory
    // gives, for a run of seams that fix each other.
    std::vector<RootEnd> fitted;
  };
  // A file found in three or more pieces, before it is joined.
  struct FoundChain {
    std::size_t waiter;
    PieceChain chain;
    CrwEnd end;
    std::int64_t streamStart = 0;  // where its compressed stream begins, once weighed
  };
  class ChainCard;
  void TryPieceChains(const RootEnd& end);
  std::optional<CanonRawLayout> LayoutAtEnd(const Waiter& waiter, const RootEnd& end, std::int64_t size);
  std::string ChainFault(const Waiter& waiter, const std::vector<CardPiece>& pieces, std::int64_t size, CrwEnd& found,
                         std::int64_t* signalFrom = nullptr, bool* sizeFixed = nullptr);
  struct PlacingFrame {
    std::int64_t size, from, firstEnd;
    std::vector<std::int64_t> after, starts;  // ClustersAfterFileEnds, FileStartsWithin
    std::vector<CardPiece> gaps;  // after the first piece, from each file's end to the next file's start
  };
  std::optional<PlacingFrame> FrameOf(const Waiter& waiter, const RootEnd& end, std::int64_t split) const;
  std::vector<std::vector<CardPiece>> PlacingsOfThree(const Waiter& waiter, const RootEnd& end, std::int64_t split,
                                                      std::optional<std::int64_t> middleEnd = std::nullopt) const;
  std::vector<std::vector<CardPiece>> PlacingsWithFixedMiddle(const Waiter& waiter, const RootEnd& end,
                                                              std::int64_t split) const;
  bool MiddleHasRival(const PlacingFrame& frame, const CardPiece& middle, std::int64_t lastFrom) const;
  bool AfterFileEnd(std::int64_t position);
  std::optional<FoundChain> WeighPlacing(std::size_t waiter, const RootEnd& end, const std::vector<CardPiece>& pieces);
  std::vector<std::vector<CardPiece>> PlacingsOfFour(const Waiter& waiter, const RootEnd& end,
                                                     std::int64_t split) const;
  bool RetrySeamRuns();
  std::vector<std::int64_t> ClustersAfterFileEnds(std::int64_t from, std::int64_t to) const;
  std::vector<std::int64_t> FileStartsWithin(std::int64_t from, std::int64_t to) const;
  std::string PlacingFault(const Waiter& waiter, const std::vector<CardPiece>& pieces, std::int64_t size,
                           CrwEnd& found, std::int64_t& streamStart);
  bool AssembleChain(const Waiter& waiter, const std::vector<CardPiece>& pieces);
  void JoinChain(const FoundChain& found, bool seamsInLowBits = false);
  void NoteFittedEnd(const RootEnd& end);
  void TrySeamRuns();
  // Photos whose seams fix each other's sides: of two pieces, and of three
  // at the run's start or end.
  struct SeamRun {
    std::vector<JoinReading> twos;
    std::vector<FoundChain> threes;
    std::optional<RootEnd> headEnd;  // the end of a first photo in three pieces, weighed once the run is whole
    // Why the run, which passes, is not joined even alone: its photos may
    // have swapped clusters unseen (SwapsUnseen). It is still a reading that
    // ties with another run of its photos.
    std::string unseenSwap;
    bool Holds(std::size_t waiter) const;
    std::vector<CardPiece> Pieces() const;
  };
  std::vector<SeamRun> PassingRuns();
  std::string RunText(const SeamRun& run) const;
  std::optional<SeamRun> SeamRunFrom(SeamRun run, std::int64_t position);
  std::optional<SeamRun> RunOnFrom(SeamRun run, std::int64_t position, std::size_t photos);
  std::optional<SeamRun> WeighedRun(SeamRun run);
  std::string SwapsUnseen(const SeamRun& run) const;
  // A link of a run as weighed, with what around its seam it was weighed
  // against: runs are sought again after every end that joins nothing, and
  // a link is weighed again only once that has changed (the card's bytes,
  // its FAT and its directories do not).
  struct LinkEvidence {
    std::int64_t fileWithin = -1;  // FileFoundWithin its second piece
    bool fileEndsBefore = false;
    bool wholeFileEndsBefore = false;
    std::optional<std::int64_t> streamStart;  // endStreamStart_
    std::int64_t cutPiece = -1;  // PieceCutByHeaderAt its header
    bool operator==(const LinkEvidence&) const = default;
  };
  struct WeighedLink {
    JoinReading reading;
    LinkEvidence evidence;
  };
  using LinkKey = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t, bool, bool>;
  LinkEvidence EvidenceOfLink(const JoinReading& reading);
  void WeighLink(JoinReading& reading);
  std::optional<JoinReading> NextInSeamRun(std::int64_t position, const SeamRun& run);
  std::optional<FoundChain> ThreePiecesAfterRun(std::int64_t position, const SeamRun& run);
  JoinReading ReadingAt(std::size_t waiter, const RootEnd& end, std::int64_t split) const;
  void JoinSeamRun(SeamRun run);
  std::vector<std::int64_t> SplitsOf(const FirstPiece& piece) const;
  const std::vector<std::int64_t>& Splits(Waiter& waiter) const;
  void ScanEnds(std::int64_t to);
  void TakeEnd(const RootEnd& end);
  void TryEnd(const RootEnd& end);
  void WeighEnd(const RootEnd& end);
  void WeighAwaitedEnds();
  void TryWrappedEnds(const std::function<CardBytes()>& readCardStart);
  bool EndOfFileInOnePiece(const RootEnd& end);
  std::vector<JoinReading> ReadingsOf(const RootEnd& end);
  void ProbeFirstPieces(const RootEnd& end);
  std::optional<std::int64_t> FittedSize(const FirstPiece& piece, const RootEnd& end) const;
  void AddSplitsFrom(Waiter& waiter, std::int64_t from, std::int64_t to);
  static bool AddSplit(Waiter& waiter, std::int64_t at);
  void AddFoundSplits(Waiter& waiter) const;
  bool SplitFixed(const Waiter& waiter, std::int64_t split) const;
  bool JoinedSinceWithin(std::size_t since, std::int64_t from, std::int64_t to) const;
  void AddDecodedSplits(const JoinReading& broken, std::vector<JoinReading>& readings);
  void Weigh(JoinReading& reading);
  std::string CardFault(const JoinReading& reading) const;
  std::string DirectoryClusterFault(std::span<const std::pair<std::int64_t, std::int64_t>> pieces) const;
  std::string OthersClustersFault(const Waiter& waiter, const std::vector<CardPiece>& pieces) const;
  std::string DirectoryFault(JoinReading& reading, const CrwRecords* records) const;
  std::string BytesFault(JoinReading& reading);
  std::string BlindSeamFault(const JoinReading& reading);
  std::string RawDataFault(JoinReading& reading);
  std::string LowBitsRivalFault(JoinReading& reading);
  LowBitsRival WeighLowBitsRival(const Waiter& waiter, const std::vector<CardPiece>& pieces, std::int64_t size,
                                 std::int64_t streamStart);
  static std::string LowBitsFault(const JoinReading& reading);
  std::string LowBitsSeamFault(JoinReading& reading, std::int64_t signalFrom);
  std::string SidelessSeamFault(JoinReading& reading);
  std::int64_t PieceCutByHeaderAt(std::int64_t header) const;
  std::string ForeignLowBitsFault(std::int64_t signalFrom, std::int64_t size,
                                  const std::function<std::int64_t(std::int64_t)>& cardAt) const;
  bool WholeFileEndsBefore(std::int64_t position);
  bool FileFoundOn(std::int64_t cluster) const;
  bool CopyCardBefore(std::int64_t from, std::int64_t to, FileImage& into) const;
  bool CopyKept(std::int64_t from, std::int64_t to, FileImage& into) const;
  static std::string MissingSeamEvidence(const JoinReading& reading);
  bool Assemble(const JoinReading& reading);
  void Join(const JoinReading& reading);
  bool FileEndsBefore(std::int64_t position);
  bool CopyCard(const Waiter& waiter, std::int64_t from, std::int64_t to, FileImage& into) const;
  void Settle(std::size_t waiter, const std::string& reason);
  FirstPiece TakeOut(std::size_t waiter);
  void HoldIfSearched(FirstPiece& piece);
  std::vector<const FirstPiece*> PiecesHeld() const;
  std::string Unjoined(const Waiter& waiter, const std::string& why) const;
  void Expire(std::int64_t now);
  void ForgetOwnEndsBefore(std::int64_t position);

  PieceSink& sink_;
  ClusterGrid grid_;
  const FatMap* map_ = nullptr;
  const DirectoryEvidence* directories_ = nullptr;
  // The end of each header's own file by the header's heap start; -1 until known.
  struct OwnFile {
    std::int64_t header = 0;
    std::int64_t end = -1;
  };
  std::map<std::int64_t, OwnFile> ownEnds_;
  // Where root directories found on the card end: each is weighed once.
  std::set<std::int64_t> fileEnds_;
  // Those of them that list raw data, or close a file found: only these
  // tell that another file ends right before a second piece.
  std::set<std::int64_t> cameraEnds_;
  // The pieces of the files joined so far: [from, to) and the file's start.
  struct JoinedPiece {
    std::int64_t from, to, file;
  };
  std::vector<JoinedPiece> joinedPieces_;
  std::map<std::int64_t, std::int64_t> extents_;  // THMs found: [from, to)
  // JPEGs that begin at cluster starts while pieces wait, by their start:
  // where each ends, once read from what is kept of the card (0 until then,
  // -1 where none can be read), and how far it was read without one.
  struct JpegNote {
    std::int64_t end = 0;
    std::int64_t readTo = 0;
  };
  mutable std::map<std::int64_t, JpegNote> jpegs_;
  void NoteJpegStarts(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);
  std::int64_t JpegEnd(std::int64_t start) const;
  bool fittedChanged_ = false;  // a waiting piece was fitted an end since runs were last sought
  // A placing of three or four pieces weighed and failed: the end, then
  // where each piece begins and ends.
  using AnchoredPlacing = std::vector<std::int64_t>;
  std::set<AnchoredPlacing> failedPlacings_;
  std::map<LinkKey, WeighedLink> weighedLinks_;
  std::vector<std::int64_t> runWeighed_;  // where the photos of the run being weighed begin
  std::size_t anchoredTriedAt_ = 0;  // joined pieces known when placings were last weighed again
  // The start of a file already found (in one piece or joined) that the card
  // bytes [from, to) overlap, or -1.
  std::int64_t FileFoundWithin(std::int64_t from, std::int64_t to) const;
  bool weighingAwaited_ = false;     // WeighAwaitedEnds is under way
  std::int64_t openWindow_ = -1;     // the header of the window being gathered, or -1
  std::vector<RootEnd> deferred_;    // ends found inside it
  std::vector<Waiter> waiting_;
  // The piece whose own bytes are searched for ends as it begins to wait
  // (-1: none), and its bytes once it no longer waits.
  std::int64_t holding_ = -1;
  FirstPiece held_;
  std::int64_t waitingBytes_ = 0;
  std::int64_t fedTo_ = 0;  // the card bytes fed so far, which earned the budget
  WorkBudget& budget_;
  // The card's last bytes, kept while a piece waits.
  RecentBytes recent_;
  CardBytes cardStart_;  // the card's first bytes, once a piece cut by its end asked for them
  std::int64_t CardStartSize() const { return static_cast<std::int64_t>(cardStart_.size()); }
  std::int64_t chainSpent_ = 0;  // what the searches for pieces by their decode spent of the budget
  std::int64_t scannedTo_ = 0;  // directories before this were looked at
  FileImage joined_;
  FileImage before_;  // the cluster before a second piece
  FileImage rival_;  // a reading of the same end with its seam in the low bits
  std::optional<std::int64_t> endStreamStart_;  // where the end being weighed says its compressed raw data begins
  FileImage& scratch_;
};

}  // namespace mendrake
