#pragma once

#include "analysis/AnalysisState.h"
#include "analysis/Platform.h"
#include "output/Bitmap.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mendrake::testing {

// A window stand-in for tests: answers save dialogs from a script, keeps every
// picture shown and every dialog asked, follows the busy cursor, and can run a
// hook whenever the engine processes pending events.
class ScriptedPlatform : public Platform {
 public:
  struct DialogRequest {
    std::string defaultExtension;
    std::string filter;
  };

  // Queued answers, one per dialog; nullopt means the user cancelled.
  std::deque<std::optional<std::string>> answers;
  std::vector<DialogRequest> dialogs;
  std::vector<RgbBitmap> pictures;
  bool busy = false;
  int busyChanges = 0;
  std::function<void()> onEvents;

  std::optional<std::string> AskSaveFileName(const std::string& defaultExtension, const std::string& filter) override {
    dialogs.push_back({defaultExtension, filter});
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowPicture(const RgbBitmap& picture) override { pictures.push_back(picture); }
  void SetBusyCursor(bool on) override {
    busy = on;
    ++busyChanges;
  }
  void ProcessEventsIfDue() override {
    if (onEvents) onEvents();
  }
};

}  // namespace mendrake::testing
