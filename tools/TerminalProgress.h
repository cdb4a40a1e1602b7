#pragma once

#include "recovery/CardRecovery.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>

// The scan's progress for a person at a terminal: one line, rewritten in
// place about four times a second, with the bytes read, the pace and the
// time left (RecoveryProgressLine). The clock is given, so that what is
// shown when can be told without waiting.
class TerminalProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kInterval{250};

  explicit TerminalProgress(std::FILE* terminal, Clock now = &std::chrono::steady_clock::now);

  // Shows the progress when the last line is older than kInterval, and
  // always at the card's end; never cancels.
  bool Show(const mendrake::RecoveryProgress& progress);
  // Wipes the line, so that a log line written to the same terminal starts
  // at its left edge; the next Show draws it again.
  void Clear();
  // Ends the line shown, when one is, so that what follows starts below it.
  void End();

 private:
  std::FILE* terminal_;
  Clock now_;
  std::chrono::steady_clock::time_point begun_;
  std::chrono::steady_clock::time_point shown_{};
  bool showing_ = false;
  bool drawnOnce_ = false;
  std::size_t width_ = 0;  // of the line shown
};
