#pragma once

#include "analysis/Platform.h"
#include "app/Dialogs.h"

#include <QElapsedTimer>
#include <QStringList>

#include <functional>
#include <string>

class QWidget;

namespace mendrake {

class PictureView;

// Turns a Windows-style filter, "description|pattern|description|pattern",
// into Qt name filters. A pattern matches file names in either letter case, as
// it does on Windows ("*.crw" also lists IMG_0042.CRW), and "*.*" matches
// every file, also one without an extension.
QStringList QtNameFilters(const std::string& windowsFilter);

// The engine's view of the window: event processing during a long search, the
// busy cursor, the save dialog (through Dialogs) and the picture view.
class QtPlatform final : public Platform {
 public:
  // Pending events are processed at least this often during a search, so the
  // window repaints smoothly and Cancel answers at once.
  static constexpr qint64 kEventIntervalMs = 16;

  QtPlatform(QWidget& window, Dialogs& dialogs, PictureView& pictureView);
  ~QtPlatform() override;

  void ProcessEventsIfDue() override;
  void SetBusyCursor(bool busy) override;
  std::optional<std::string> AskSaveFileName(const std::string& defaultExtension,
                                             const std::string& filter) override;
  void ShowPicture(const RgbBitmap& picture) override;

  // Asked at every look at the clock, with the number of looks so far;
  // answering true processes pending events at once, whatever the time. Tests
  // use it to put a user's action at a chosen point of a run (post the action,
  // answer true) instead of hoping the run still goes on when it arrives.
  using EventRoundChooser = std::function<bool(long clockCheck)>;
  void SetEventRoundChooser(EventRoundChooser chooser) { chooser_ = std::move(chooser); }

  int BusyDepth() const { return busyDepth_; }
  // How often pending events were processed (for measurements and tests).
  long EventRounds() const { return eventRounds_; }

 private:
  QWidget& window_;
  Dialogs& dialogs_;
  PictureView& pictureView_;
  QElapsedTimer sinceEvents_;
  EventRoundChooser chooser_;
  int busyDepth_ = 0;
  long clockChecks_ = 0;
  long eventRounds_ = 0;
};

}  // namespace mendrake
