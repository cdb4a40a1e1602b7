#include "recovery/CardRecovery.h"

#include "analysis/FileImage.h"
#include "files/FileError.h"
#include "files/FileIo.h"
#include "recovery/CrwEnd.h"
#include "recovery/RecoveryOutput.h"
#include "recovery/WorkBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace mendrake {
namespace {

// Bytes of a header: byte order (2), header length (4), "HEAPCCDR" (8).
constexpr std::int64_t kHeaderBytes = 14;
constexpr char kSignature[] = "HEAPCCDR";
constexpr std::int64_t kSignatureAt = 6;

// Why a window closed: told in the line of a damaged piece.
enum class WindowEnd { kNextHeader, kSizeBound, kCardEnd };

// The bytes from one header on, gathered as the card streams past into one
// image whose room for the largest window is reserved once.
struct Window {
  bool open = false;
  std::int64_t start = 0;
  FileImage bytes;
  std::int64_t End() const { return start + bytes.Size(); }
};

class CardScan {
 public:
  CardScan(CardReader& card, const std::string& folder, LogBox& log, const RecoveryProgressFn& progress,
           const RecoveryBounds& bounds)
      : card_(card), output_(folder), log_(log), progress_(progress), bounds_(bounds), budget_(bounds) {
    // No window is longer than the card.
    window_.bytes.Reserve(std::min(RecoveryLimits::kMaxCrwSize, card_.Size()));
  }

  RecoverySummary Run() {
    const std::int64_t size = card_.Size();
    // Room for one read and the header bytes carried over from the last one,
    // so a header across two reads is found once.
    // Not zero-filled: every byte is read before it is looked at.
    const auto buffer =
        std::make_unique_for_overwrite<std::uint8_t[]>(std::min(RecoveryLimits::kReadSize, size) + kHeaderBytes);
    std::int64_t carry = 0;
    for (std::int64_t position = 0; position < size && !summary_.cancelled;) {
      const std::int64_t count = std::min(RecoveryLimits::kReadSize, size - position);
      ReadBlock(position, buffer.get() + carry, count);
      readUpTo_ = position + count;
      const std::int64_t bufferStart = position - carry;
      const std::int64_t length = carry + count;
      FindHeaders(buffer.get(), bufferStart, length);
      Extend(buffer.get(), bufferStart, position + count);
      position += count;
      summary_.scanned = position;
      carry = std::min<std::int64_t>(kHeaderBytes - 1, length);
      std::memmove(buffer.get(), buffer.get() + length - carry, static_cast<std::size_t>(carry));
      CheckCancel();
    }
    if (window_.open && !summary_.cancelled) Close(WindowEnd::kCardEnd, 0);
    return Finish();
  }

  // The file being written when the output disk filled is gone with its
  // pending file; those written before it stay complete.
  RecoverySummary StopOnFullOutput() {
    summary_.outputFull = true;
    return Finish();
  }

 private:
  // A failed read is retried sector by sector; sectors that still fail are
  // zeros in the stream and one line in the log for each run of them.
  void ReadBlock(std::int64_t position, std::uint8_t* into, std::int64_t count) {
    if (card_.ReadAt(position, into, count) == count) return;
    std::int64_t badFrom = -1;
    for (std::int64_t at = 0; at < count; at += RecoveryLimits::kSectorSize) {
      const std::int64_t n = std::min(RecoveryLimits::kSectorSize, count - at);
      const bool good = card_.ReadAt(position + at, into + at, n) == n;
      if (!good) std::memset(into + at, 0, static_cast<std::size_t>(n));
      if (!good && badFrom < 0) badFrom = position + at;
      if (good && badFrom >= 0) ReportBadRange(badFrom, position + at), badFrom = -1;
    }
    if (badFrom >= 0) ReportBadRange(badFrom, position + count);
  }

  void ReportBadRange(std::int64_t from, std::int64_t to) {
    log_.Append("Read error at bytes " + std::to_string(from) + " to " + std::to_string(to - 1) +
                ": skipped, read as zeros");
  }

  void FindHeaders(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t length) {
    const std::uint8_t* from = bytes + kSignatureAt;
    const std::uint8_t* end = bytes + length;
    while (from < end) {
      const void* hit = memmem(from, static_cast<std::size_t>(end - from), kSignature, 8);
      if (!hit) break;
      const std::uint8_t* signature = static_cast<const std::uint8_t*>(hit);
      const std::uint8_t* header = signature - kSignatureAt;
      if ((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M')) {
        const std::int64_t at = bufferStart + (header - bytes);
        if (window_.open) {
          Extend(bytes, bufferStart, at);
          if (window_.open) Close(WindowEnd::kNextHeader, at);
        }
        window_.open = true;
        window_.start = at;
        window_.bytes.SetSize(0);
      }
      from = signature + 1;
    }
  }

  // Adds the bytes up to until (within the buffer) to the open window, which
  // closes when it reaches the size bound.
  void Extend(const std::uint8_t* bytes, std::int64_t bufferStart, std::int64_t until) {
    if (!window_.open) return;
    const std::int64_t limit = std::min(until, window_.start + RecoveryLimits::kMaxCrwSize);
    if (limit > window_.End()) {
      window_.bytes.Append(bytes + (window_.End() - bufferStart), limit - window_.End());
    }
    if (window_.End() >= window_.start + RecoveryLimits::kMaxCrwSize) {
      Close(WindowEnd::kSizeBound, 0);
    }
  }

  // Asked after every read and before every file is written.
  bool CheckCancel() {
    if (!summary_.cancelled && progress_ &&
        !progress_({summary_.scanned, card_.Size(), summary_.recovered + summary_.damaged})) {
      summary_.cancelled = true;
    }
    return summary_.cancelled;
  }

  void Close(WindowEnd why, std::int64_t nextHeaderAt) {
    window_.open = false;
    if (CheckCancel()) return;
    const CrwEnd end = FindCrwEnd(window_.bytes, scratch_, budget_.ForWindow(readUpTo_));
    budget_.Spend(end.entriesVisited);
    if (!end.isCrw) return;
    if (end.trueSize == 0) {
      KeepDamaged(end, why, nextHeaderAt);
      return;
    }
    const std::string at = "At " + std::to_string(window_.start) + ": ";
    const std::string placeStem = "CRW_at_" + std::to_string(window_.start);
    char number[16];
    std::snprintf(number, sizeof number, "%04u", end.fileNumber % 10000);
    const std::string stem = end.fileNumber ? std::string("CRW_") + number : placeStem;
    const std::span<const std::uint8_t> file(window_.bytes.Data(), static_cast<std::size_t>(end.trueSize));
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
    // A file found twice on one card (a copy of a photo) is kept once, under
    // the name it got first; the line says so rather than leave a name that
    // seems to be missing.
    if (!written.repeated) {
      summary_.files.push_back({(output_.Folder() / (written.base + ".CRW")).string(),
                                end.thumbnailSize > 0 ? summary_.lastThumbnail : "", end.trueSize, end.makeAndModel,
                                false});
    }
    log_.Append(at + written.base + ".CRW, " + std::to_string(end.trueSize) + " bytes, " +
                (end.makeAndModel.empty() ? "no make or model" : end.makeAndModel) +
                (written.repeated ? "; the same bytes as a file found before, kept once" : ""));
  }

  // Camera files start at cluster starts, so at sector starts; a header
  // elsewhere is bytes inside something else (a copy, a thumbnail, crafted
  // bytes) and is kept only when its file stands whole.
  void KeepDamaged(const CrwEnd& end, WindowEnd why, std::int64_t nextHeaderAt) {
    if (window_.start % RecoveryLimits::kSectorSize != 0) return;
    if (summary_.damaged - summary_.damagedNotWritten >= bounds_.maxDamagedFiles) {
      ++summary_.damaged;
      ++summary_.damagedNotWritten;
      return;
    }
    const std::string at = "At " + std::to_string(window_.start) + ": ";
    const std::span<const std::uint8_t> piece(window_.bytes.Data(), static_cast<std::size_t>(window_.bytes.Size()));
    // Counted once written: a full output disk stops the run in the write.
    const std::string name = output_.WriteDamaged("CRW_at_" + std::to_string(window_.start) + ".damaged", piece);
    ++summary_.damaged;
    if (!name.empty()) {
      summary_.files.push_back({(output_.Folder() / name).string(), {}, window_.bytes.Size(), {}, true});
    }
    const std::string how = name.empty() ? "not written: every name of CRW_at_" + std::to_string(window_.start) +
                                               ".damaged is taken"
                                         : name + ", " + std::to_string(window_.bytes.Size()) + " bytes kept";
    log_.Append(at + how + ", damaged: " + end.whyNot + ", " + WhyClosed(why, nextHeaderAt));
  }

  static std::string WhyClosed(WindowEnd why, std::int64_t nextHeaderAt) {
    switch (why) {
      case WindowEnd::kNextHeader:
        return "the next header at " + std::to_string(nextHeaderAt) + " comes before its end";
      case WindowEnd::kSizeBound:
        return "no end within " + std::to_string(RecoveryLimits::kMaxCrwSize >> 20) + " MiB of its header";
      case WindowEnd::kCardEnd:
        break;
    }
    return "cut by the end of the card";
  }

  RecoverySummary Finish() {
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
  Window window_;
  FileImage scratch_;
  RecoverySummary summary_;
  RecoveryBounds bounds_;
  WorkBudget budget_;
  std::int64_t readUpTo_ = 0;
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
                            const RecoveryProgressFn& progress) {
  return RecoverCard(card, outputFolder, log, progress, RecoveryBounds{});
}

RecoverySummary RecoverCard(CardReader& card, const std::string& outputFolder, LogBox& log,
                            const RecoveryProgressFn& progress, const RecoveryBounds& bounds) {
  CardScan scan(card, outputFolder, log, progress, bounds);
  try {
    return scan.Run();
  } catch (const OutputFullError&) {
    return scan.StopOnFullOutput();
  }
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
  return std::string(summary.cancelled ? "Cancelled: recovered " : "Recovered ") + std::to_string(summary.recovered) +
         (summary.recovered == 1 ? " CRW file, " : " CRW files, ") + std::to_string(summary.damaged) +
         " damaged, from " + ShownBytes(summary.scanned) + " in " + seconds +
         (summary.damagedNotWritten > 0
              ? "; " + std::to_string(summary.damagedNotWritten) + " damaged pieces counted, not written"
              : "");
}

}  // namespace mendrake
