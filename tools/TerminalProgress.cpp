#include "tools/TerminalProgress.h"

#include "recovery/ProgressLine.h"

#include <string>

TerminalProgress::TerminalProgress(std::FILE* terminal, Clock now)
    : terminal_(terminal), now_(std::move(now)), begun_(now_()) {}

bool TerminalProgress::Show(const mendrake::RecoveryProgress& progress) {
  const auto now = now_();
  const bool last = progress.scanned >= progress.total;
  if (drawnOnce_ && now - shown_ < kInterval && !last) return true;
  drawnOnce_ = true;
  shown_ = now;
  const std::string line =
      mendrake::RecoveryProgressLine(progress, std::chrono::duration<double>(now - begun_).count());
  // Spaces over what is left of a longer line before.
  const std::size_t pad = width_ > line.size() ? width_ - line.size() : 0;
  std::fprintf(terminal_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  width_ = line.size();
  showing_ = true;
  std::fflush(terminal_);
  return true;
}

void TerminalProgress::Clear() {
  if (!showing_) return;
  std::fprintf(terminal_, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(terminal_);
  showing_ = false;
  width_ = 0;
  drawnOnce_ = false;  // drawn again after the log line
}

void TerminalProgress::End() {
  if (!showing_) return;
  std::fputc('\n', terminal_);
  std::fflush(terminal_);
  showing_ = false;
  width_ = 0;
}
