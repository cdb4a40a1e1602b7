#include "recovery/CardRecovery.h"

#include "files/Utf8Path.h"

#include "analysis/CrwRecords.h"
#include "analysis/FileImage.h"
#include "analysis/RootHeapEnd.h"
#include "cardfs/CardDirectories.h"
#include "cardfs/CardFileSystem.h"
#include "cardfs/ClusterGrid.h"
#include "files/ByteSearch.h"
#include "files/FileError.h"
#include "recovery/CardImageSaver.h"
#include "recovery/CrwEnd.h"
#include "recovery/CrwStructureCheck.h"
#include "output/JpegDecoder.h"
#include "recovery/DamagedJpeg.h"
#include "recovery/DirectoryEvidence.h"
#include "recovery/EndPairing.h"
#include "recovery/FileSignatures.h"
#include "recovery/PieceJoin.h"
#include "recovery/RawDataCheck.h"
#include "recovery/ReadAhead.h"
#include "recovery/PhotoName.h"
#include "recovery/RecoveryOutput.h"
#include "recovery/ShotTime.h"
#include "recovery/ThmMatch.h"
#include "recovery/ThmScan.h"
#include "recovery/WorkBudget.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mendrake {
namespace {

// Bytes of a header: byte order (2), header length (4), its signature (8).
constexpr std::int64_t kHeaderBytes = kCrwSignatureAt + sizeof kCrwSignature;
// A piece of a block that the scans of its bytes go over in turn: it stays
// in the processor's second-level cache from the first scan to the last.
constexpr std::int64_t kScanPiece = std::int64_t{64} << 10;

// Where a window was cut, when it closes without its own end.
enum class WindowCut { kOther, kNextHeader, kCardEnd };

// The bytes from one header on, gathered as the card streams past into one
// image whose room for the largest window is reserved once. Where the card's
// FAT lists files, a deleted file's window passes over their clusters: the
// camera wrote the file around them.
struct Window {
  bool open = false;
  std::int64_t start = 0;
  CrwHeader header;  // the header the window begins with
  FileImage bytes;
  std::int64_t next = 0;          // the card position of the next byte to take
  // The card's free clusters, where the window passes over the clusters the
  // FAT lists; null where it takes every byte.
  const FreeClusters* free = nullptr;
  // Each run of listed clusters passed over: where in bytes it fell, and its length.
  std::vector<std::pair<std::int64_t, std::int64_t>> skips;
  std::int64_t lastTaken = 0;     // just past the last byte taken
  // Where its own heap may close, and what judging its file there found.
  struct Judgement {
    // Sizes below searchedTo were searched for a closed root end; once one is
    // found, the window is judged when it holds judgeAt bytes (-1: none found yet).
    std::int64_t searchedTo = 0;
    std::int64_t judgeAt = -1;
    int judged = 0;  // times it was judged before its close
    // For the close to use again: the end at the size it was judged at, and
    // the raw data's verdict up to that end.
    std::int64_t judgedSize = -1;
    CrwEnd judgedEnd;
    std::int64_t rawCheckedSize = -1;
    RawDataCheck rawCheck;
  };
  Judgement judgement;
  std::int64_t End() const { return next; }
};

class CardScan final : public PieceSink {
 public:
  CardScan(CardReader& card, const std::string& folder, LogBox& log, const RecoveryProgressFn& progress,
           const RecoveryOptions& options)
      : card_(card), output_(PathFromUtf8(folder)), log_(log), progress_(progress), options_(options), budget_(options.bounds) {
    // No window is longer than the card.
    window_.bytes.Reserve(std::min(RecoveryLimits::kMaxCrwSize, card_.Size()));
  }

  RecoverySummary Run() {
    summary_.start = options_.start.value_or(0) / RecoveryLimits::kSectorSize * RecoveryLimits::kSectorSize;
    summary_.size = card_.Size();
    summary_.scanned = summary_.start;
    if (!options_.imagePath.empty()) {
      image_.emplace(card_, options_.imagePath, options_.start.has_value(), RecoveryLimits::kSectorSize);
    }
    ScanCard(image_ ? static_cast<CardReader&>(*image_) : card_);
    if (image_) {
      image_->Finish(summary_.stopped != RecoverySummary::Stop::kNone ? summary_.stoppedAt : summary_.scanned);
    }
    if (window_.open && !summary_.cancelled) {
      if (summary_.stopped != RecoverySummary::Stop::kNone) {
        Close("cut where reading stopped");
      } else {
        Close("cut by the end of the card", WindowCut::kCardEnd);
      }
    }
    if (!summary_.cancelled) joiner_.Finish([this] { return ReadCardStart(); });
    // Without a boot sector the grid is inferred as headers are met; the
    // one it came to is logged once the card has been read.
    if (piecesWaited_) LogGrid();
    thms_.Finish();
    WriteThms();
    if (!summary_.cancelled) ReportNamedNotRecovered();
    // Next to the summary, which says where to go on.
    if (image_) LogImage(*image_);
    return Finish();
  }

  // The file being written when the output disk filled is gone with its
  // pending file; those written before it stay complete.
  RecoverySummary StopOnFullOutput() {
    summary_.outputFull = true;
    // The image keeps what was read, and its mapfile says so, where its own disk has room.
    if (image_) {
      try {
        image_->Finish(summary_.scanned);
      } catch (const FileError& failure) {
        log_.Append(std::string("The image of the card is incomplete: ") + failure.what());
      }
    }
    return Finish();
  }

 private:
  // Reads the card once, from the start on, and scans it block by block.
  // The reading thread has stopped when this returns, so the card (and its
  // image) are no longer read.
  void ScanCard(CardReader& card) {
    // Each block has room before it for the header bytes carried over from
    // the one before, so a header across two reads is found once.
    // An image file is read on this thread (CardReader::SystemReadsAhead).
    const int depth = card.SystemReadsAhead() ? 0 : RecoveryLimits::kReadAheadBlocks;
    ReadAhead reader(card, RecoveryLimits::kReadSize, RecoveryLimits::kSectorSize, kHeaderBytes, depth,
                     {summary_.start, options_.bounds.maxUnreadableRun});
    std::uint8_t carried[kHeaderBytes];
    std::int64_t carry = 0;
    ReadAhead::Block block;
    while (!summary_.cancelled && reader.Next(block)) {
      for (const auto& [from, to] : block.badRanges) ReportBadRange(from, to);
      std::uint8_t* bytes = block.bytes - carry;
      std::memcpy(bytes, carried, static_cast<std::size_t>(carry));
      const std::int64_t bufferStart = block.start - carry;
      const std::int64_t length = carry + block.count;
      const std::int64_t blockEnd = block.start + block.count;
      // Scanned so far, for the work budget the block's windows may spend.
      summary_.scanned = blockEnd;
      ObserveFileSystem(block.bytes, block.start, block.count);
      // A THM may run on past a piece's end: it is read from the whole block,
      // where a sector of it begins as one does.
      if (ObservePieces(bytes, carry, length, block.start) || thms_.Waiting()) {
        const std::size_t known = thms_.Held().size();
        thms_.Observe(block.bytes, block.start, block.count);
        for (std::size_t i = known; i < thms_.Held().size(); ++i) {
          const ThmFile& thm = thms_.Held()[i];
          joiner_.NoteFileExtent(thm.position, thm.position + static_cast<std::int64_t>(thm.bytes.size()));
        }
      }
      FindHeaders(bytes, bufferStart, length);
      Extend(bytes, bufferStart, blockEnd);
      if (joiner_.Waiting() && !fileSystem_.Volume()) joiner_.SetGrid(Grid());
      joiner_.Feed(block.bytes, block.start, block.count);
      carry = std::min<std::int64_t>(kHeaderBytes - 1, length);
      std::memcpy(carried, bytes + length - carry, static_cast<std::size_t>(carry));
      CheckCancel();
    }
    if (summary_.cancelled) return;
    if (reader.Stopped() == ReadAhead::Stop::kCardGone) summary_.stopped = RecoverySummary::Stop::kCardGone;
    if (reader.Stopped() == ReadAhead::Stop::kUnreadable) summary_.stopped = RecoverySummary::Stop::kUnreadable;
    if (summary_.stopped != RecoverySummary::Stop::kNone) summary_.stoppedAt = reader.StoppedAt();
    summary_.unreadableRun = options_.bounds.maxUnreadableRun;
  }

  // The card's first bytes again, for a photo cut by its end that went on
  // there: once, and not from a card that failed a read or was read from
  // further on.
  PieceJoiner::CardBytes ReadCardStart() {
    PieceJoiner::CardBytes bytes;
    if (summary_.start != 0 || !unread_.empty() || summary_.stopped != RecoverySummary::Stop::kNone) return bytes;
    bytes.resize(static_cast<std::size_t>(std::min(JoinLimits::kMaxWrapBytes, card_.Size())));
    const auto size = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t at = 0; at < size; at += RecoveryLimits::kReadSize) {
      const std::int64_t count = std::min(RecoveryLimits::kReadSize, size - at);
      // A card in a slow reader takes seconds for it: Cancel is still heard.
      if (CheckCancel() || card_.ReadAt(at, bytes.data() + at, count) != count) return {};
    }
    return bytes;
  }

  // What the image holds, and how to fill it where it does not.
  void LogImage(const CardImageSaver& image) {
    const RescueMap& map = image.Map();
    const std::int64_t read = map.Bytes(RescueMap::kFinished);
    const std::int64_t unread = map.Size() - read;
    std::string line = "Image of the card: " + image.ImagePath() + ", " + std::to_string(read) + " bytes read into it";
    if (unread > 0) {
      line += ", " + std::to_string(unread) + " not (holes, listed in " + image.MapfilePath() +
              "); \"ddrescue -r3 CARD " + image.ImagePath() + " " + image.MapfilePath() +
              "\" reads those again, and recovery can then run on the image";
    } else {
      line += ", the whole card; its mapfile is " + image.MapfilePath();
    }
    log_.Append(line);
  }

  // Sectors that failed to read are zeros in the stream and one line in the
  // log for each run of them.
  void ReportBadRange(std::int64_t from, std::int64_t to) {
    log_.Append("Read error at bytes " + std::to_string(from) + " to " + std::to_string(to - 1) +
                ": skipped, read as zeros");
    unread_.emplace_back(from, to);
  }

  // The last run of unread sectors in [from, to), if any.
  std::optional<std::pair<std::int64_t, std::int64_t>> UnreadBetween(std::int64_t from, std::int64_t to) const {
    for (auto run = unread_.rbegin(); run != unread_.rend() && run->second > from; ++run) {
      if (run->first < to) return *run;
    }
    return std::nullopt;
  }

  // Goes over the block (at carry in the length bytes of the buffer, the
  // bytes carried from the block before in front of it) in pieces that stay
  // in the processor's nearest caches from the header search, which reads
  // every byte of a piece, to the directory and THM tests of its sectors:
  // over the whole block at once, each of the three read it from memory.
  // Where each header signature stands is kept for FindHeaders, which opens
  // and closes windows once the whole block has been seen, as the names of
  // the files it writes may come from directory sectors further on in it.
  // Returns whether a sector of the block begins as a THM does.
  bool ObservePieces(const std::uint8_t* bytes, std::int64_t carry, std::int64_t length, std::int64_t blockStart) {
    const std::int64_t bufferStart = blockStart - carry;
    signatures_.clear();
    bool thmStarts = false;
    std::int64_t searched = kCrwSignatureAt;  // signatures starting before this were searched for
    for (std::int64_t piece = carry; piece < length; piece += kScanPiece) {
      const std::int64_t pieceEnd = std::min(length, piece + kScanPiece);
      // Each signature that starts before the piece's end, found once.
      const std::int64_t searchEnd = std::min(length, pieceEnd + static_cast<std::int64_t>(sizeof kCrwSignature) - 1);
      if (fileSystem_.Volume()) {
        FindSignaturesAtSectorStarts(bytes, bufferStart, searched, pieceEnd, length);
      } else {
        for (std::int64_t from = searched; from < searchEnd;) {
          const std::uint8_t* hit = FindBytes(bytes + from, static_cast<std::size_t>(searchEnd - from), kCrwSignature,
                                              sizeof kCrwSignature);
          if (!hit) break;
          signatures_.push_back(hit - bytes);
          from = hit - bytes + 1;
        }
      }
      searched = std::max(searched, pieceEnd);
      directories_.Observe(bytes + piece, bufferStart + piece, pieceEnd - piece);
      thmStarts = thmStarts || ThmScan::AnyStartLikeThm(bytes + piece, bufferStart + piece, pieceEnd - piece);
    }
    return thmStarts;
  }

  // Once the card's volume is known, a header is looked for at sector starts
  // only. Every file of a FAT or exFAT volume begins at a cluster start, and
  // every volume a card has held began at a sector, with clusters of whole
  // sectors, so no file the card ever held begins elsewhere. A header
  // elsewhere is a copy inside another file (an archive, say), which a
  // stream with no volume is still searched byte by byte for. Reading every
  // byte costs three fifths of the card's read from the page cache again,
  // as that read leaves the bytes in memory, not in the processor's cache.
  // Records the signatures of headers at sector starts in [from, to), as
  // offsets into the length bytes of the buffer.
  void FindSignaturesAtSectorStarts(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t from,
                                    std::int64_t to, std::int64_t length) {
    constexpr std::int64_t kSector = RecoveryLimits::kSectorSize;
    const std::int64_t firstHeader = (bufferStart + from - kCrwSignatureAt + kSector - 1) / kSector * kSector;
    const std::int64_t signatureLength = static_cast<std::int64_t>(sizeof kCrwSignature);
    for (std::int64_t at = firstHeader - bufferStart + kCrwSignatureAt; at < to && at + signatureLength <= length;
         at += kSector) {
      if (std::memcmp(bytes + at, kCrwSignature, sizeof kCrwSignature) == 0) signatures_.push_back(at);
    }
  }

  void FindHeaders(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t length) {
    const std::uint8_t* end = bytes + length;
    for (const std::int64_t signatureAt : signatures_) {
      const std::uint8_t* signature = bytes + signatureAt;
      const std::uint8_t* header = signature - kCrwSignatureAt;
      if (const std::optional<CrwHeader> crw = CrwHeaderAt(header, end - header)) {
        const std::int64_t at = bufferStart + (header - bytes);
        headerGrid_.Add(at);
        // Camera files start at cluster starts: only a header there can own
        // an end that a waiting piece might otherwise take.
        if (at % RecoveryLimits::kSectorSize == 0) joiner_.NoteHeader(at, crw->length);
        const bool listed = ListedOnTheCard(at);
        summary_.listed += listed;
        // A listed file inside a deleted file's window is one the camera wrote around.
        if (window_.open && !(listed && window_.free)) {
          Extend(bytes, bufferStart, at);
          if (window_.open) Close("the next header at " + std::to_string(at) + " comes before its end", WindowCut::kNextHeader);
        }
        if (!listed) Open(at, *crw);
      }
    }
  }

  void Open(std::int64_t at, const CrwHeader& header) {
    window_.open = true;
    window_.start = at;
    window_.header = header;
    window_.next = at;
    window_.lastTaken = at;
    window_.free = options_.all || !fileSystem_.Free() ? nullptr : &*fileSystem_.Free();
    window_.skips.clear();
    window_.bytes.SetSize(0);
    window_.judgement = {};
    joiner_.WindowOpened(at);
  }

  // Adds the bytes up to until (within the buffer) to the open window, which
  // closes when it reaches the size bound, or once its own heap has closed
  // and the file up to there stands whole. A deleted file's window takes the
  // card's free clusters and passes over the runs the FAT lists.
  void Extend(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t until) {
    if (!window_.open) return;
    while (window_.next < until && window_.bytes.Size() < RecoveryLimits::kMaxCrwSize) {
      if (window_.free && window_.free->ListedAt(window_.next)) {
        PassListedClusters(std::min(window_.free->NextFreeAt(window_.next), until));
      } else {
        std::int64_t to = window_.free ? std::min(window_.free->FreeUntil(window_.next), until) : until;
        // Until it has been judged, the window grows a scan piece at a time,
        // so that its heap is seen to close less than a trailer before its
        // last byte, and it is judged at judgeAt bytes exactly, wherever the
        // card's reads fall.
        if (window_.judgement.judged < kMaxJudgements) {
          to = std::min(to, window_.next + (window_.judgement.judgeAt > 0 ? window_.judgement.judgeAt - window_.bytes.Size() : kScanPiece));
        }
        TakeUpTo(bytes, bufferStart, to);
        if (WholeAtOwnEnd()) {
          Close("its own end was found");
          return;
        }
      }
    }
    if (window_.bytes.Size() >= RecoveryLimits::kMaxCrwSize) {
      Close("no end within " + std::to_string(RecoveryLimits::kMaxCrwSize >> 20) + " MiB of its header");
    }
  }

  // A window's bytes past its file's end are another file's or the card's
  // old bytes, up to the next header or the size bound: on a card of old
  // bytes, 64 MiB of them after every photo. Its own heap closes before its
  // end, which lies there or at most a trailer past it (RootHeapEnd.h), so
  // once the window holds a trailer's length past that, it is judged as its
  // close would judge it; where its file stands whole as one piece, nothing
  // further on changes that, and it closes there. Judged otherwise, it goes
  // on to its close as before. Judgements are few (kMaxJudgements): a
  // crafted window whose every cluster closes a heap costs no more than a
  // few closes.
  static constexpr int kMaxJudgements = 3;
  bool WholeAtOwnEnd() {
    if (window_.judgement.judged >= kMaxJudgements) return false;
    if (window_.judgement.judgeAt < 0) {
      const std::int64_t closed = NextClosedRootEnd(window_.bytes, window_.header.bigEndian, window_.header.length,
                                                    window_.judgement.searchedTo);
      window_.judgement.searchedTo = closed > 0 ? closed + 1 : window_.bytes.Size() + 1;
      if (closed < 0) return false;
      window_.judgement.judgeAt = closed + kMaxRootHeapTrailer;
    }
    if (window_.bytes.Size() < window_.judgement.judgeAt) return false;
    ++window_.judgement.judged;
    window_.judgement.judgeAt = -1;
    return WritesAsOnePiece();
  }

  // Whether the close would write the window's file as it lies, in one
  // piece: the pure part of SettleWindow, whose findings it keeps for it.
  bool WritesAsOnePiece() {
    if (!window_.skips.empty() || window_.start % RecoveryLimits::kSectorSize != 0) return false;
    const CrwEnd end = JudgedEnd();
    if (!end.isCrw || end.trueSize == 0) return false;
    const RawDataCheck& raw = RawDataUpTo(end.trueSize);
    return BrokenRawData(end, raw).empty() && DirectoryContradicts(end, raw).empty();
  }

  // The window's end, found once for the bytes it holds.
  CrwEnd JudgedEnd() {
    if (window_.judgement.judgedSize != window_.bytes.Size()) {
      window_.judgement.judgedEnd = EndOfWindow();
      window_.judgement.judgedSize = window_.bytes.Size();
    }
    return window_.judgement.judgedEnd;
  }

  // The raw data's verdict on the window's first size bytes, which a window
  // that grows does not change.
  const RawDataCheck& RawDataUpTo(std::int64_t size) {
    if (window_.judgement.rawCheckedSize != size) {
      window_.judgement.rawCheck =
          CheckRawData(std::span<const std::uint8_t>(window_.bytes.Data(), static_cast<std::size_t>(size)));
      window_.judgement.rawCheckedSize = size;
    }
    return window_.judgement.rawCheck;
  }

  // Takes the card bytes from the window's next byte up to to, within the size bound.
  void TakeUpTo(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t to) {
    const std::int64_t take = std::min(to - window_.next, RecoveryLimits::kMaxCrwSize - window_.bytes.Size());
    window_.bytes.Append(bytes + (window_.next - bufferStart), take);
    window_.next += take;
    window_.lastTaken = window_.next;
  }

  // Passes over the listed clusters from the window's next byte up to to,
  // and notes where in the window they fell: one run of listed clusters is
  // one skip, across reads.
  void PassListedClusters(std::int64_t to) {
    if (window_.next == window_.lastTaken || window_.skips.empty()) window_.skips.emplace_back(window_.bytes.Size(), 0);
    window_.skips.back().second += to - window_.next;
    window_.next = to;
  }

  // Asked after every read and before every file is written.
  bool CheckCancel() {
    if (!summary_.cancelled && progress_ &&
        !progress_({summary_.scanned, card_.Size(), summary_.recovered + summary_.damaged, summary_.start})) {
      summary_.cancelled = true;
    }
    return summary_.cancelled;
  }

  // The window's file is settled by what its bytes hold: its true end, or
  // none (a first piece that may wait for its end), or no CRW at all. Ends
  // that the joiner found inside it are weighed once it is settled.
  void Close(const std::string& whyDamaged, WindowCut cut = WindowCut::kOther) {
    window_.open = false;
    if (!CheckCancel()) SettleWindow(whyDamaged, cut);
    joiner_.WindowClosed();
  }

  void SettleWindow(const std::string& whyDamaged, WindowCut cut) {
    CrwEnd end = JudgedEnd();
    if (!end.isCrw) return;
    // Camera files start at cluster starts, so at sector starts; a header
    // elsewhere is bytes inside something else (a copy, a thumbnail, crafted
    // bytes) and is kept only when its file stands whole.
    if (end.trueSize == 0 && window_.start % RecoveryLimits::kSectorSize != 0) return;
    if (end.trueSize == 0 && !window_.skips.empty()) {
      WriteDamaged(window_.start, window_.bytes.Data(), window_.bytes.Size(),
                   end.whyNot + ", " + whyDamaged + ", with the clusters the card's FAT lists passed over");
      return;
    }
    if (end.trueSize == 0) {
      WaitForEnd(end.whyNot + ", " + whyDamaged, cut);
      return;
    }
    std::string note;
    if (window_.skips.empty() && window_.start % RecoveryLimits::kSectorSize == 0) {
      const RawDataCheck raw = RawDataUpTo(end.trueSize);
      std::string notOne = BrokenRawData(end, raw);
      if (notOne.empty()) notOne = DirectoryContradicts(end, raw);
      if (!notOne.empty()) {
        if (const std::optional<CrwEnd> given = EndTheDirectoryGives(end)) {
          end = *given;
          notOne.clear();
        }
      }
      if (!notOne.empty()) {
        // Not one photo: a first piece whose length another file's end
        // happens to fit. It waits as a first piece, and that end stays free
        // for the file it closes.
        joiner_.NoteNotOwnEnd(window_.start + window_.header.length);
        WaitForEnd(notOne + ", " + whyDamaged, cut);
        return;
      }
      const WindowRival rival = RivalReading(end);
      if (rival.bothDecode) {
        joiner_.NoteOwnEnd(window_.start + window_.header.length, window_.start + end.trueSize);
        WriteDamaged(window_.start, window_.bytes.Data(), end.trueSize,
                     "its end at " + std::to_string(window_.start + end.trueSize) + " closes as well the first piece at " +
                         std::to_string(rival.piece) + ", which its header cut after " + std::to_string(rival.split) +
                         " bytes, read on past its own first " + std::to_string(rival.split) +
                         " bytes, and both decode: the two readings tie");
        return;
      }
      if (rival.piece >= 0) note = RivalNote(rival);
    }
    const auto [runs, skipped] = SkipsBefore(end.trueSize);
    std::string how;
    if (runs > 0) {
      how = AroundListedClusters(end, runs, skipped);
      if (how.empty()) return;
    }
    joiner_.NoteOwnEnd(window_.start + window_.header.length, window_.start + end.trueSize + skipped);
    WriteFile(window_.start, window_.bytes, end, how, window_.start + end.trueSize + skipped, note);
  }

  // The window's true end, from its own heap first (EndPairing.h).
  CrwEnd EndOfWindow() {
    const CrwEnd found = FindCrwEnd(window_.bytes, scratch_, budget_.ForWindow(summary_.scanned));
    budget_.Spend(found.entriesVisited);
    const CrwEnd end = OwnEnd(window_.bytes, found, scratch_, budget_.ForWindow(summary_.scanned));
    budget_.Spend(end.entriesVisited - found.entriesVisited);
    return end;
  }

  // A window whose end lines up with its header by arithmetic alone (two
  // first pieces of one length in holes of one size, the second's end after
  // the first's piece) holds two photos' raw data: the decode breaks at the
  // seam. Returns why, or an empty string for one photo's raw data (or raw
  // data the decoder does not know).
  std::string BrokenRawData(const CrwEnd& end, const RawDataCheck& raw) const {
    if (raw.verdict != RawDataVerdict::Broken) return {};
    return "its end at " + std::to_string(window_.start + end.trueSize) + " closes raw data that breaks at byte " +
           std::to_string(raw.brokenAt) + " (" + raw.reason + ")";
  }

  // The decode vouches for a window from where its compressed stream
  // begins: a first piece that ended in the low bits stored before it, with
  // another photo's last clusters at the same offsets after it, decodes as
  // one photo. There the card's directory has the word, where every entry
  // that names the window's first cluster gives another size (or names
  // another photo than its records). It is never a reason to refuse a file
  // whose raw data the decoder vouches for from its first cluster on.
  std::string DirectoryContradicts(const CrwEnd& end, const RawDataCheck& raw) const {
    const std::optional<FatVolume>& volume = fileSystem_.Volume();
    if (!volume || (raw.verdict == RawDataVerdict::Plausible && raw.signalFrom <= volume->clusterSize)) return {};
    const DirectoryWord word = WindowWord(end);
    if (word.fault.empty()) return {};
    return "its end at " + std::to_string(window_.start + end.trueSize) + " is another photo's (" + word.fault + ")";
  }

  // Why the window's file, whole at its end, may as well be the rest of the
  // first piece its header cut; empty where the card's directory gives the
  // window's file its size, or no such piece waits.
  WindowRival RivalReading(const CrwEnd& end) {
    if (fileSystem_.Volume() && WindowWord(end).fixesSize) return {};
    return joiner_.RivalOfWindow(window_.start,
                                 std::span<const std::uint8_t>(window_.bytes.Data(), static_cast<std::size_t>(end.trueSize)));
  }

  // What the card's directories say of the window's file, cut at its end, with its records.
  DirectoryWord WindowWord(const CrwEnd& end) const {
    const std::span<const std::uint8_t> file(window_.bytes.Data(), static_cast<std::size_t>(end.trueSize));
    const CrwRecords records = ReadCrwRecords(file, window_.header.bigEndian, window_.header.length);
    return directoryEvidence_.Weigh(window_.start, end.trueSize, &records);
  }

  // The line of a file written whole though the piece its header cut reads
  // on into it as well: the picture is the one its raw data holds, but the
  // low bits stored before its compressed stream show no seam.
  std::string RivalNote(const WindowRival& rival) const {
    return "; the first piece at " + std::to_string(rival.piece) + ", which its header cut after " +
           std::to_string(rival.split) + " bytes, reads on into it as well: its first " +
           std::to_string(rival.split) +
           " bytes, its header and the low two bits of its first values, may be that photo's";
  }

  // A window whose end is not its photo's may still begin with the whole
  // photo that the card's directory names: where the photo's own heap
  // closes exactly at the size an entry gives, its raw data does not break
  // there and its records agree with the entry, that is the photo (the end
  // found further on repeats its heap's pointer by chance, and the size
  // search takes the last end that walks).
  std::optional<CrwEnd> EndTheDirectoryGives(const CrwEnd& refused) {
    for (const std::int64_t size : directoryEvidence_.SizesAt(window_.start)) {
      if (size >= refused.trueSize || size > window_.bytes.Size()) continue;
      FileImage own;
      own.Assign(window_.bytes.Data(), size);
      CrwEnd end = FindCrwEnd(own, scratch_, budget_.ForWindow(summary_.scanned));
      budget_.Spend(end.entriesVisited);
      if (end.trueSize != size) continue;
      const std::span<const std::uint8_t> file(own.Data(), static_cast<std::size_t>(size));
      if (CheckRawData(file).verdict == RawDataVerdict::Broken) continue;
      const CrwRecords records = ReadCrwRecords(file, window_.header.bigEndian, window_.header.length);
      if (!directoryEvidence_.Weigh(window_.start, size, &records).fault.empty()) continue;
      return end;
    }
    return std::nullopt;
  }

  // Its end may come later on the card, after the files written into the
  // clusters that followed its first piece.
  void WaitForEnd(const std::string& whyDamaged, WindowCut cut) {
    FirstPiece piece;
    piece.start = window_.start;
    piece.bytes.assign(window_.bytes.Data(), window_.bytes.Data() + window_.bytes.Size());
    piece.bigEndian = window_.header.bigEndian;
    piece.headerLength = window_.header.length;
    piece.whyDamaged = whyDamaged;
    piece.closedByHeader = cut == WindowCut::kNextHeader;
    piece.cutByCardEnd = cut == WindowCut::kCardEnd;
    if (fileSystem_.Volume()) LogGrid();
    piecesWaited_ = true;
    joiner_.SetGrid(Grid());
    joiner_.Wait(std::move(piece));
  }

  // A file put together around the clusters the FAT lists is checked as a
  // joined file is; the FAT fixes where its pieces lie. Returns how it was
  // joined for its line, or an empty string when it was kept as damaged.
  std::string AroundListedClusters(const CrwEnd& end, int runs, std::int64_t skipped) {
    const std::string fault = CrwStructureFault(window_.bytes.Data(), end.trueSize, window_.header.bigEndian,
                                                window_.header.length, end.thumbnailStart, end.thumbnailSize, true);
    if (!fault.empty()) {
      WriteDamaged(window_.start, window_.bytes.Data(), window_.bytes.Size(),
                   "put together around the clusters the card's FAT lists, it fails its check: " + fault);
      return {};
    }
    const RawDataCheck raw =
        CheckRawData(std::span<const std::uint8_t>(window_.bytes.Data(), static_cast<std::size_t>(end.trueSize)));
    if (raw.verdict == RawDataVerdict::Broken) {
      WriteDamaged(window_.start, window_.bytes.Data(), window_.bytes.Size(),
                   "put together around the clusters the card's FAT lists, its raw data breaks at byte " +
                       std::to_string(raw.brokenAt) + " of the file: " + raw.reason);
      return {};
    }
    const std::string unchecked = raw.verdict == RawDataVerdict::Unknown ? UncheckedRawData() : "";
    if (runs == 1) {
      return ", joined from two pieces " + std::to_string(skipped / fileSystem_.Volume()->clusterSize) +
             " clusters apart (the card's FAT lists the clusters between)" + unchecked;
    }
    return ", joined from " + std::to_string(runs + 1) + " pieces around the clusters the card's FAT lists" + unchecked;
  }

  static std::string UncheckedRawData() {
    return "; joined without a raw-data check (its raw data is of no kind the decoder knows)";
  }

  // The runs of listed clusters the window passed over before its first
  // size bytes, and their length in bytes.
  std::pair<int, std::int64_t> SkipsBefore(std::int64_t size) const {
    int runs = 0;
    std::int64_t skipped = 0;
    for (const auto& [at, length] : window_.skips) {
      if (at < size) ++runs, skipped += length;
    }
    return {runs, skipped};
  }

  void Unjoined(const FirstPiece& piece, const std::string& whyDamaged) override {
    WriteDamaged(piece.start, piece.bytes.data(), static_cast<std::int64_t>(piece.bytes.size()), whyDamaged);
  }

  // A crafted card with a header at every sector would ask for a file per
  // 512 bytes: past the bound they are counted, not written.
  void WriteDamaged(std::int64_t start, const std::uint8_t* bytes, std::int64_t size, const std::string& whyDamaged) {
    if (CheckCancel()) return;
    if (summary_.damaged - summary_.damagedNotWritten >= options_.bounds.maxDamagedFiles) {
      ++summary_.damaged;
      ++summary_.damagedNotWritten;
      return;
    }
    const std::span<const std::uint8_t> kept(bytes, static_cast<std::size_t>(size));
    const std::int64_t pixelsEarned =
        summary_.scanned / DamagedJpegLimits::kCardBytesPerPixel + kMaxJpegPixels - jpegPixelsSpent_;
    const std::optional<CrwHeader> header = CrwHeaderAt(bytes, size);
    const DamagedJpeg jpeg = header ? FindDamagedJpeg(kept, header->bigEndian, header->length, start, pixelsEarned)
                                    : DamagedJpeg{};
    jpegPixelsSpent_ += jpeg.pixelsDecoded;
    // The card's directory may still say which photo this was.
    const std::string named = CameraNameStem(DirectoryName(start), ".CRW");
    const std::string stem = named.empty() ? PlaceStem(start) : named;
    // Counted once written: a full output disk stops the run in the write.
    const RecoveryOutput::WrittenDamaged written = output_.WriteDamaged(stem, kept, kept.subspan(jpeg.start, jpeg.size));
    ++summary_.damaged;
    filesAt_.insert(start);
    if (!written.name.empty()) {
      RecoveredFile file;
      file.path = Utf8Of(output_.Folder() / PathFromUtf8(written.name));
      if (!written.jpeg.empty()) file.thumbnail = Utf8Of(output_.Folder() / PathFromUtf8(written.jpeg));
      file.size = size;
      file.damaged = true;
      summary_.files.push_back(std::move(file));
    }
    const std::string how = written.name.empty() ? "not written: every name of " + stem + ".damaged is taken"
                                                 : written.name + ", " + std::to_string(size) + " bytes kept";
    log_.Append("At " + std::to_string(start) + ": " + how + ", damaged: " + whyDamaged + JpegNote(jpeg, written));
  }

  // What the line of a damaged file says of its JPEG.
  static std::string JpegNote(const DamagedJpeg& jpeg, const RecoveryOutput::WrittenDamaged& written) {
    if (jpeg.size == 0 || written.name.empty()) return {};
    const std::string size = std::to_string(jpeg.width) + "x" + std::to_string(jpeg.height);
    if (written.jpeg.empty()) return "; its JPEG, " + size + ", not written: every name of it is taken";
    const std::string besideName = written.name.substr(0, written.name.size() - 8) + ".jpg";
    return "; its JPEG, " + size + ", written" + (written.jpeg == besideName ? "" : " as " + written.jpeg);
  }

  void Joined(const JoinedFile& file) override {
    if (CheckCancel()) return;
    // Two pieces are listed where the second lies before the first, at the card's start.
    if (file.pieces.size() == 2 && file.pieces[1].from < file.pieces[0].from) {
      WriteFile(file.start, file.bytes, file.end,
                ", joined from " + PiecesShown(file.pieces) + ", the second where the camera went on at the card's start" +
                    (file.rawDataChecked ? "" : UncheckedRawData()) + LowBitsSeamNote(file),
                summary_.scanned);
      return;
    }
    if (!file.pieces.empty()) {
      ++summary_.joinedFromMore;
      WriteFile(file.start, file.bytes, file.end, ", joined from " + PiecesShown(file.pieces) + LowBitsSeamNote(file),
                summary_.scanned);
      return;
    }
    // Its second piece lies somewhere before the scan's position.
    WriteFile(file.start, file.bytes, file.end,
              ", joined from two pieces " + std::to_string(file.gapClusters) +
                  (file.gapClusters == 1 ? " cluster apart" : " clusters apart") +
                  (file.rawDataChecked ? "" : UncheckedRawData()) + LowBitsSeamNote(file),
              summary_.scanned);
  }

  static std::string LowBitsSeamNote(const JoinedFile& file) {
    if (!file.seamInLowBits) return "";
    if (file.pieces.size() > 2) {
      return "; its seams lie where the files around fix them, and the card's directory gives its size";
    }
    return file.seamPastRawData ? "; its seam lies past its raw data, where the card's directory gives its size"
                                : "; its seam lies in the low bits, where the card's directory gives its size";
  }

  // "3 pieces (clusters 342-507, 1971-2011, 4065-4074)", numbered as the card's grid numbers them.
  std::string PiecesShown(const std::vector<CardPiece>& pieces) {
    const ClusterGrid grid = Grid();
    std::string shown = std::to_string(pieces.size()) + " pieces (clusters ";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      shown += (i == 0 ? "" : ", ") + std::to_string(grid.Number(pieces[i].from)) + "-" +
               std::to_string(grid.Number(pieces[i].to - 1));
    }
    return shown + ")";
  }

  // The file of end.trueSize bytes at the start of bytes, found at start on the card.
  // Its bytes lie on the card between start and cardEnd.
  // how says how a joined file was put together (empty: in one piece);
  // note is the line's last word on it.
  void WriteFile(std::int64_t start, const FileImage& bytes, const CrwEnd& end, const std::string& how,
                 std::int64_t cardEnd, const std::string& note = {}) {
    // Sectors that could not be read are zeros in it: its heap may still
    // close, but the photo is not all there.
    if (const auto bad = UnreadBetween(start, cardEnd)) {
      WriteDamaged(start, bytes.Data(), end.trueSize,
                   "its end was found, but bytes " + std::to_string(bad->first) + " to " +
                       std::to_string(bad->second - 1) + " could not be read and are zeros in it" + how + note);
      return;
    }
    const std::string at = "At " + std::to_string(start) + ": ";
    const std::span<const std::uint8_t> file(bytes.Data(), static_cast<std::size_t>(end.trueSize));
    const std::optional<CrwHeader> header = CrwHeaderAt(bytes.Data(), end.trueSize);
    const CrwRecords records = header ? ReadCrwRecords(file, header->bigEndian, header->length) : CrwRecords{};
    const std::string placeStem = PlaceStem(start);
    const std::string stem = PhotoStem(records, DirectoryName(start), start);
    const RecoveryOutput::Written written =
        output_.WriteCrw(stem, placeStem, file, file.subspan(end.thumbnailStart, end.thumbnailSize), records.shotTime);
    summary_.lastThumbnail = output_.LastThumbnail();
    if (written.base.empty()) {
      ++summary_.damaged;
      log_.Append(at + std::to_string(end.trueSize) + " bytes not written: every name of " + stem + ".CRW and " +
                  placeStem + ".CRW is taken");
      return;
    }
    ++summary_.recovered;
    filesAt_.insert(start);
    if (!how.empty()) ++summary_.joined;
    // A file found twice on one card (a copy of a photo) is kept once, under
    // the name it got first; the line says so rather than leave a name that
    // seems to be missing.
    if (!written.repeated) {
      RecoveredFile recovered;
      recovered.path = Utf8Of(output_.Folder() / PathFromUtf8(written.base + ".CRW"));
      if (end.thumbnailSize > 0) recovered.thumbnail = summary_.lastThumbnail;
      recovered.size = end.trueSize;
      recovered.camera = end.makeAndModel;
      recovered.shotTime = records.shotTime;
      summary_.files.push_back(std::move(recovered));
      photos_.push_back({summary_.files.size() - 1, written.base, stem, records});
    }
    log_.Append(at + written.base + ".CRW, " + std::to_string(end.trueSize) + " bytes, " +
                (end.makeAndModel.empty() ? "no make or model" : end.makeAndModel) + how + note +
                (written.repeated ? "; the same bytes as a file found before, kept once" : ""));
  }

  // Each THM held goes beside the CRW file it matches, named as that file's
  // record names it where the CRW file has the name the camera gave it;
  // beside a CRW file that took another name, under that name with ".THM".
  void WriteThms() {
    std::vector<PhotoShot> shots;
    for (const WrittenPhoto& photo : photos_) {
      shots.push_back({photo.records.shotTime, photo.records.fileNumber, photo.stem});
    }
    std::vector<ThmFile>& thms = thms_.Held();
    for (ThmFile& thm : thms) thm.directoryStem = DirectoryThmStem(thm.position);
    const std::vector<ThmMatch> matches = MatchThms(shots, thms);
    summary_.thmsUnmatched += thms_.NotHeld();
    for (std::size_t i = 0; i < thms.size(); ++i) {
      const std::string at = "THM at " + std::to_string(thms[i].position) + ": ";
      if (matches[i].kind == ThmMatch::Kind::kNoPhoto) {
        ++summary_.thmsUnmatched;
        continue;
      }
      if (matches[i].kind == ThmMatch::Kind::kTied) {
        ++summary_.thmsUnmatched;
        std::string names;
        for (std::size_t k = 0; k < matches[i].tied.size(); ++k) {
          names += (k == 0 ? "" : k + 1 == matches[i].tied.size() ? " and " : ", ") +
                   photos_[static_cast<std::size_t>(matches[i].tied[k])].base + ".CRW";
        }
        log_.Append(at + "not written: " + names + " were shot in its second (" + ShotTimeText(thms[i].shotTime) +
                    ") and no file number tells which it belongs to");
        continue;
      }
      const WrittenPhoto& photo = photos_[static_cast<std::size_t>(matches[i].photo)];
      const std::string recorded = CameraNameStem(photo.records.thumbnailFileName, ".THM");
      const std::string name = photo.base == photo.stem && !recorded.empty() ? photo.records.thumbnailFileName
                                                                               : photo.base + ".THM";
      const std::string placed = output_.WriteThm(name, thms[i].bytes, thms[i].shotTime);
      if (placed.empty()) {
        ++summary_.thmsUnmatched;
        log_.Append(at + "not written: every name of " + name + " is taken");
        continue;
      }
      ++summary_.thms;
      summary_.files[photo.file].thm = Utf8Of(output_.Folder() / PathFromUtf8(placed));
      log_.Append(at + placed + " beside " + photo.base + ".CRW");
    }
  }

  // The name the card's directories give the file whose first cluster starts
  // at position; empty when none does, or only a deleted entry that lost its
  // first letter.
  std::string DirectoryName(std::int64_t position) const {
    const std::optional<std::uint32_t> cluster = ClusterAt(position);
    const NamedFile* named = cluster ? directories_.ByFirstCluster(*cluster) : nullptr;
    return named && !named->firstLetterLost ? named->name : std::string();
  }

  // The stem of the THM name the card's directories give the file at position.
  std::string DirectoryThmStem(std::int64_t position) const {
    const std::optional<std::uint32_t> cluster = ClusterAt(position);
    const NamedFile* named = cluster ? directories_.ByFirstCluster(*cluster) : nullptr;
    if (!named || named->name.size() <= 4) return {};
    std::string extension = named->name.substr(named->name.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return extension == ".THM" ? named->name.substr(0, named->name.size() - 4) : std::string();
  }

  std::optional<std::uint32_t> ClusterAt(std::int64_t position) const {
    const std::optional<FatVolume>& volume = fileSystem_.Volume();
    return volume ? FirstClusterAt(*volume, position) : std::nullopt;
  }

  // One line for each CRW file the card's directories name that did not come
  // back, neither whole nor damaged, and that is not on the card as it is.
  // Those that begin where reading had stopped were not looked for: one
  // line counts them.
  void ReportNamedNotRecovered() {
    const std::optional<FatVolume>& volume = fileSystem_.Volume();
    if (!volume) return;
    const bool stopped = summary_.stopped != RecoverySummary::Stop::kNone;
    int notRead = 0;
    for (const NamedFile& named : directories_.Files()) {
      if (!NamesCrwFile(named.name)) continue;
      const std::int64_t at = volume->dataStart + (std::int64_t{named.firstCluster} - 2) * volume->clusterSize;
      if (filesAt_.count(at) > 0 || (!named.deleted && ListedOnTheCard(at))) continue;
      if (stopped && at >= summary_.stoppedAt) {
        ++notRead;
        continue;
      }
      ++summary_.namedNotRecovered;
      log_.Append(named.name + ", " + GroupedDigits(named.size) + " bytes, " +
                  (named.deleted ? "deleted" : "named in a directory the card's FAT no longer backs") +
                  ": not recovered, no CRW file came back from its first cluster (byte " + GroupedDigits(at) + ")");
    }
    if (notRead > 0) {
      log_.Append(std::to_string(notRead) + (notRead == 1 ? " CRW file" : " CRW files") +
                  " that the card's directories name " + (notRead == 1 ? "begins" : "begin") + " past byte " +
                  GroupedDigits(summary_.stoppedAt) + ", where reading stopped: not looked for");
    }
  }

  static bool NamesCrwFile(const std::string& name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return extension == ".CRW";
  }

  // The card's boot sector and FAT stream past first; the grid is logged once
  // it is known.
  void ObserveFileSystem(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
    if (fileSystem_.Settled()) return;
    fileSystem_.Observe(bytes, start, length);
    if (fileSystem_.Settled() && fileSystem_.Volume()) {
      LogGrid();
      directoryEvidence_.SetVolume(*fileSystem_.Volume());
      joiner_.SetDirectories(&directoryEvidence_);
    }
    if (fileSystem_.Settled() && fileSystem_.Map()) joiner_.SetMap(&*fileSystem_.Map());
  }

  // From the boot sector, else from where the headers found so far lie.
  ClusterGrid Grid() {
    if (!fileSystem_.Volume()) return headerGrid_.Grid();
    return GridOfVolume(*fileSystem_.Volume());
  }

  void LogGrid() {
    if (gridLogged_) return;
    gridLogged_ = true;
    log_.Append(GridLine(Grid()));
  }

  // Whether the header at position begins a file that the card's FAT still
  // lists, to be left alone.
  bool ListedOnTheCard(std::int64_t position) const {
    return !options_.all && fileSystem_.Free() && fileSystem_.Free()->ListedAt(position);
  }

  RecoverySummary Finish() {
    // The last progress counts every file written.
    if (progress_ && !summary_.cancelled) {
      progress_({summary_.scanned, card_.Size(), summary_.recovered + summary_.damaged, summary_.start});
    }
    if (summary_.listed > 0) log_.Append(ListedFilesLine(summary_.listed));
    summary_.entriesVisited = budget_.Spent();
    summary_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun_).count();
    log_.Append(RecoverySummaryLine(summary_));
    return summary_;
  }

  const std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();

  CardReader& card_;
  RecoveryOutput output_;
  LogBox& log_;
  const RecoveryProgressFn& progress_;
  RecoveryOptions options_;
  CardFileSystem fileSystem_;
  HeaderGrid headerGrid_;
  bool gridLogged_ = false;
  bool piecesWaited_ = false;
  std::optional<CardImageSaver> image_;
  std::vector<std::pair<std::int64_t, std::int64_t>> unread_;  // the runs of sectors read as zeros, in card order
  Window window_;
  std::vector<std::int64_t> signatures_;  // where each header signature of the block being scanned starts, in its buffer
  // The CRW files written, for their THMs: where each stands in summary_.files,
  // the name it took, the name it was meant to take, and its records.
  struct WrittenPhoto {
    std::size_t file;
    std::string base;
    std::string stem;
    CrwRecords records;
  };
  std::vector<WrittenPhoto> photos_;
  std::int64_t jpegPixelsSpent_ = 0;  // by the searches for damaged files' JPEGs
  CardDirectories directories_;
  DirectoryEvidence directoryEvidence_{directories_};
  std::set<std::int64_t> filesAt_;  // where each file written (or found again) began
  ThmScan thms_{[this](std::int64_t position) { return ListedOnTheCard(position); }};
  FileImage scratch_;
  WorkBudget budget_;
  PieceJoiner joiner_{*this, scratch_, budget_};
  RecoverySummary summary_;
};

std::string ShownBytes(std::int64_t bytes) {
  char text[32];
  if (bytes >= (std::int64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1 << 30));
  } else if (bytes >= (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  } else {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  }
  return text;
}

}  // namespace

RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress, const RecoveryOptions& options) {
  CardScan scan(card, outputFolder, log, progress, options);
  try {
    return scan.Run();
  } catch (const OutputFullError&) {
    return scan.StopOnFullOutput();
  }
}

RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress, const RecoveryBounds& bounds) {
  RecoveryOptions options;
  options.bounds = bounds;
  return RecoverCard(card, outputFolder, log, progress, options);
}

std::string RecoverySummaryLine(const RecoverySummary& summary) {
  if (summary.outputFull) {
    return "Stopped: the output disk is full. " + std::to_string(summary.recovered) +
           (summary.recovered == 1 ? " CRW file, " : " CRW files, ") + std::to_string(summary.damaged) +
           " damaged, were written. Free some space and recover into the same folder again: only the files still "
           "missing are written.";
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", summary.seconds);
  const std::string joined =
      summary.joined == 0           ? ""
      : summary.joinedFromMore == 0 ? " (" + std::to_string(summary.joined) + " joined from two pieces)"
                                    : " (" + std::to_string(summary.joined) + " joined from two or more pieces)";
  const std::string counts =
      std::to_string(summary.recovered) + (summary.recovered == 1 ? " CRW file" : " CRW files") + joined + ", " +
      std::to_string(summary.damaged) + " damaged, from " + ShownBytes(summary.scanned - summary.start) + " in " +
      seconds +
      (summary.damagedNotWritten > 0
           ? "; " + std::to_string(summary.damagedNotWritten) + " damaged pieces counted, not written"
           : "") +
      (summary.thms > 0 ? "; " + std::to_string(summary.thms) + (summary.thms == 1 ? " THM file" : " THM files") +
                              " written beside " + (summary.thms == 1 ? "its CRW file" : "their CRW files")
                        : "") +
      (summary.thmsUnmatched > 0 ? "; " + std::to_string(summary.thmsUnmatched) +
                                       (summary.thmsUnmatched == 1 ? " THM file matches" : " THM files match") +
                                       " no CRW file written, not written"
                                 : "");
  if (summary.stopped != RecoverySummary::Stop::kNone && !summary.cancelled) {
    const std::string at = std::to_string(summary.stoppedAt);
    return "Stopped at byte " + at + " of " + std::to_string(summary.size) + ": " +
           (summary.stopped == RecoverySummary::Stop::kCardGone
                ? std::string("the card is gone from its reader")
                : ShownBytes(summary.unreadableRun) + " in a row could not be read") +
           ". Recovered " + counts + ". To go on from there: crwlog --recover with --start " + at +
           " (and the same --save-image to fill the same image and mapfile).";
  }
  return std::string(summary.cancelled ? "Cancelled: recovered " : "Recovered ") + counts;
}

std::string ListedFilesLine(int listed) {
  return std::to_string(listed) + (listed == 1 ? " CRW file" : " CRW files") +
         " that the card's FAT still lists " + (listed == 1 ? "was" : "were") +
         " left on the card; recovering all files copies them too";
}

}  // namespace mendrake
