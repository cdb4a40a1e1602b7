#include "recovery/CardRecovery.h"

#include "files/Utf8Path.h"

#include "analysis/FileImage.h"
#include "cardfs/CardFileSystem.h"
#include "cardfs/ClusterGrid.h"
#include "files/ByteSearch.h"
#include "files/FileError.h"
#include "recovery/CardImageSaver.h"
#include "recovery/CrwEnd.h"
#include "recovery/CrwStructureCheck.h"
#include "recovery/EndPairing.h"
#include "recovery/FileSignatures.h"
#include "recovery/PieceJoin.h"
#include "recovery/ReadAhead.h"
#include "recovery/RecoveryOutput.h"
#include "recovery/WorkBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mendrake {
namespace {

// Bytes of a header: byte order (2), header length (4), "HEAPCCDR" (8).
constexpr std::int64_t kHeaderBytes = 14;
constexpr std::uint8_t kHeapSignature[] = {'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
constexpr std::int64_t kSignatureAt = 6;

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
  bool skipsListed = false;       // passes over the clusters the FAT lists
  // Each run of listed clusters passed over: where in bytes it fell, and its length.
  std::vector<std::pair<std::int64_t, std::int64_t>> skips;
  std::int64_t lastTaken = 0;     // just past the last byte taken
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
      Close(summary_.stopped != RecoverySummary::Stop::kNone ? "cut where reading stopped" : "cut by the end of the card");
    }
    if (!summary_.cancelled) joiner_.Finish();
    // Without a boot sector the grid is inferred as headers are met; the
    // one it came to is logged once the card has been read.
    if (piecesWaited_) LogGrid();
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
    ReadAhead reader(card, RecoveryLimits::kReadSize, RecoveryLimits::kSectorSize, kHeaderBytes,
                     RecoveryLimits::kReadAheadBlocks, {summary_.start, options_.bounds.maxUnreadableRun});
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

  void FindHeaders(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t length) {
    const std::uint8_t* from = bytes + kSignatureAt;
    const std::uint8_t* end = bytes + length;
    while (from < end) {
      const std::uint8_t* hit = FindBytes(from, static_cast<std::size_t>(end - from), kHeapSignature, 8);
      if (!hit) break;
      const std::uint8_t* signature = hit;
      const std::uint8_t* header = signature - kSignatureAt;
      if (const std::optional<CrwHeader> crw = CrwHeaderAt(header, end - header)) {
        const std::int64_t at = bufferStart + (header - bytes);
        headerGrid_.Add(at);
        // Camera files start at cluster starts: only a header there can own
        // an end that a waiting piece might otherwise take.
        if (at % RecoveryLimits::kSectorSize == 0) joiner_.NoteHeader(at, crw->length);
        const bool listed = ListedOnTheCard(at);
        summary_.listed += listed;
        // A listed file inside a deleted file's window is one the camera wrote around.
        if (window_.open && !(listed && window_.skipsListed)) {
          Extend(bytes, bufferStart, at);
          if (window_.open) Close("the next header at " + std::to_string(at) + " comes before its end");
        }
        if (listed) {
          from = signature + 1;
          continue;
        }
        window_.open = true;
        window_.start = at;
        window_.header = *crw;
        window_.next = at;
        window_.lastTaken = at;
        window_.skipsListed = !options_.all && fileSystem_.Map();
        window_.skips.clear();
        window_.bytes.SetSize(0);
      }
      from = signature + 1;
    }
  }

  // Adds the bytes up to until (within the buffer) to the open window, which
  // closes when it reaches the size bound.
  void Extend(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t until) {
    if (!window_.open) return;
    while (window_.next < until && window_.bytes.Size() < RecoveryLimits::kMaxCrwSize) {
      std::int64_t take = std::min(until - window_.next, RecoveryLimits::kMaxCrwSize - window_.bytes.Size());
      if (window_.skipsListed) {
        const FatMap& map = *fileSystem_.Map();
        if (map.UsedAt(window_.next)) {
          const std::int64_t free = std::min(map.NextFreeAt(window_.next), until);
          if (window_.next == window_.lastTaken || window_.skips.empty()) {
            window_.skips.emplace_back(window_.bytes.Size(), 0);
          }
          window_.skips.back().second += free - window_.next;
          window_.next = free;
          continue;
        }
        const std::int64_t clusterEnd = map.Volume().dataStart +
            ((window_.next - map.Volume().dataStart) / map.Volume().clusterSize + 1) * map.Volume().clusterSize;
        if (window_.next >= map.Volume().dataStart) take = std::min(take, clusterEnd - window_.next);
      }
      window_.bytes.Append(bytes + (window_.next - bufferStart), take);
      window_.next += take;
      window_.lastTaken = window_.next;
    }
    if (window_.bytes.Size() >= RecoveryLimits::kMaxCrwSize) {
      Close("no end within " + std::to_string(RecoveryLimits::kMaxCrwSize >> 20) + " MiB of its header");
    }
  }

  // Asked after every read and before every file is written.
  bool CheckCancel() {
    if (!summary_.cancelled && progress_ &&
        !progress_({summary_.scanned, card_.Size(), summary_.recovered + summary_.damaged, summary_.start})) {
      summary_.cancelled = true;
    }
    return summary_.cancelled;
  }

  void Close(const std::string& whyDamaged) {
    window_.open = false;
    if (CheckCancel()) return;
    const CrwEnd found = FindCrwEnd(window_.bytes, scratch_, budget_.ForWindow(summary_.scanned));
    budget_.Spend(found.entriesVisited);
    const CrwEnd end = OwnEnd(window_.bytes, found, scratch_, budget_.ForWindow(summary_.scanned));
    budget_.Spend(end.entriesVisited - found.entriesVisited);
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
      // Its end may come later on the card, after the files written into the
      // clusters that followed its first piece.
      FirstPiece piece;
      piece.start = window_.start;
      piece.bytes.assign(window_.bytes.Data(), window_.bytes.Data() + window_.bytes.Size());
      piece.bigEndian = window_.header.bigEndian;
      piece.headerLength = window_.header.length;
      piece.whyDamaged = end.whyNot + ", " + whyDamaged;
      if (fileSystem_.Volume()) LogGrid();
      piecesWaited_ = true;
      joiner_.SetGrid(Grid());
      joiner_.Wait(std::move(piece));
      return;
    }
    const auto [runs, skipped] = SkipsBefore(end.trueSize);
    if (runs > 0) {
      // Put together around the listed clusters: checked as a joined file is.
      const std::string fault = CrwStructureFault(window_.bytes.Data(), end.trueSize, window_.header.bigEndian,
                                                  window_.header.length, end.thumbnailStart, end.thumbnailSize, true);
      if (!fault.empty()) {
        WriteDamaged(window_.start, window_.bytes.Data(), window_.bytes.Size(),
                     "put together around the clusters the card's FAT lists, it fails its check: " + fault);
        return;
      }
    }
    joiner_.NoteOwnEnd(window_.start + window_.header.length,
                       window_.start + end.trueSize + skipped);
    std::string how;
    if (runs == 1) {
      how = ", joined from two pieces " + std::to_string(skipped / fileSystem_.Volume()->clusterSize) +
            " clusters apart (the card's FAT lists the clusters between)";
    } else if (runs > 1) {
      how = ", joined from " + std::to_string(runs + 1) + " pieces around the clusters the card's FAT lists";
    }
    WriteFile(window_.start, window_.bytes, end, how, window_.start + end.trueSize + skipped);
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
    const std::string stem = "CRW_at_" + std::to_string(start) + ".damaged";
    // Counted once written: a full output disk stops the run in the write.
    const std::string name = output_.WriteDamaged(stem, std::span(bytes, static_cast<std::size_t>(size)));
    ++summary_.damaged;
    if (!name.empty()) summary_.files.push_back({Utf8Of(output_.Folder() / PathFromUtf8(name)), {}, size, {}, true});
    const std::string how = name.empty() ? "not written: every name of " + stem + " is taken"
                                         : name + ", " + std::to_string(size) + " bytes kept";
    log_.Append("At " + std::to_string(start) + ": " + how + ", damaged: " + whyDamaged);
  }

  void Joined(std::int64_t start, const FileImage& bytes, const CrwEnd& end, std::int64_t gapClusters) override {
    if (CheckCancel()) return;
    // Its second piece lies somewhere before the scan's position.
    WriteFile(start, bytes, end, ", joined from two pieces " + std::to_string(gapClusters) + " clusters apart",
              summary_.scanned);
  }

  // The file of end.trueSize bytes at the start of bytes, found at start on the card.
  // Its bytes lie on the card between start and cardEnd.
  void WriteFile(std::int64_t start, const FileImage& bytes, const CrwEnd& end, const std::string& how,
                 std::int64_t cardEnd) {
    // Sectors that could not be read are zeros in it: its heap may still
    // close, but the photo is not all there.
    if (const auto bad = UnreadBetween(start, cardEnd)) {
      WriteDamaged(start, bytes.Data(), end.trueSize,
                   "its end was found, but bytes " + std::to_string(bad->first) + " to " +
                       std::to_string(bad->second - 1) + " could not be read and are zeros in it" + how);
      return;
    }
    const std::string at = "At " + std::to_string(start) + ": ";
    char number[16];
    std::snprintf(number, sizeof number, "%04u", end.fileNumber % 10000);
    const std::string placeStem = "CRW_at_" + std::to_string(start);
    const std::string stem = end.fileNumber ? std::string("CRW_") + number : placeStem;
    const std::span<const std::uint8_t> file(bytes.Data(), static_cast<std::size_t>(end.trueSize));
    const RecoveryOutput::Written written =
        output_.WriteCrw(stem, placeStem, file, file.subspan(end.thumbnailStart, end.thumbnailSize));
    summary_.lastThumbnail = output_.LastThumbnail();
    if (written.base.empty()) {
      ++summary_.damaged;
      log_.Append(at + std::to_string(end.trueSize) + " bytes not written: every name of " + stem + ".CRW and " +
                  placeStem + ".CRW is taken");
      return;
    }
    ++summary_.recovered;
    if (!how.empty()) ++summary_.joined;
    // A file found twice on one card (a copy of a photo) is kept once, under
    // the name it got first; the line says so rather than leave a name that
    // seems to be missing.
    if (!written.repeated) {
      summary_.files.push_back({Utf8Of(output_.Folder() / PathFromUtf8(written.base + ".CRW")),
                                end.thumbnailSize > 0 ? summary_.lastThumbnail : "", end.trueSize, end.makeAndModel,
                                false});
    }
    log_.Append(at + written.base + ".CRW, " + std::to_string(end.trueSize) + " bytes, " +
                (end.makeAndModel.empty() ? "no make or model" : end.makeAndModel) + how +
                (written.repeated ? "; the same bytes as a file found before, kept once" : ""));
  }

  // The card's boot sector and FAT stream past first; the grid is logged once
  // it is known.
  void ObserveFileSystem(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
    if (fileSystem_.Settled()) return;
    fileSystem_.Observe(bytes, start, length);
    if (fileSystem_.Settled() && fileSystem_.Volume()) LogGrid();
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
    return !options_.all && fileSystem_.Map() && fileSystem_.Map()->UsedAt(position);
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
      summary.joined > 0 ? " (" + std::to_string(summary.joined) + " joined from two pieces)" : "";
  const std::string counts =
      std::to_string(summary.recovered) + (summary.recovered == 1 ? " CRW file" : " CRW files") + joined + ", " +
      std::to_string(summary.damaged) + " damaged, from " + ShownBytes(summary.scanned - summary.start) + " in " +
      seconds +
      (summary.damagedNotWritten > 0
           ? "; " + std::to_string(summary.damagedNotWritten) + " damaged pieces counted, not written"
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
