#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mendrake {

// A decoded picture (output/Bitmap.h): the engine only hands it on to the window.
struct RgbBitmap;

// What the engine needs from a window: processing pending events during a long
// search, the busy cursor, the save dialog and the picture view. This base
// does nothing, which is what a run without a window needs; the window
// overrides the operations it provides.
class Platform {
 public:
  // A clock is read only every this many units of work, so that telling the
  // platform about every candidate size costs a counter increment.
  static constexpr std::uint32_t kWorkUnitsPerClockCheck = 4096;

  virtual ~Platform() = default;

  // Called for every candidate size and every directory entry visited.
  void NoteWork(std::uint32_t units = 1) {
    workSinceClockCheck_ += units;
    if (workSinceClockCheck_ >= kWorkUnitsPerClockCheck) {
      workSinceClockCheck_ = 0;
      ProcessEventsIfDue();
    }
  }

  // Reads a clock and processes pending window events when enough time passed.
  virtual void ProcessEventsIfDue() {}

  virtual void SetBusyCursor(bool /*busy*/) {}

  // Shows the save dialog with a default extension (".crw") and a filter of
  // "description|pattern|..." pairs; returns the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> AskSaveFileName(const std::string& /*defaultExtension*/,
                                                      const std::string& /*filter*/) {
    return std::nullopt;
  }

  // Replaces the picture in the picture view.
  virtual void ShowPicture(const RgbBitmap& /*picture*/) {}

 private:
  std::uint32_t workSinceClockCheck_ = 0;
};

// No window: nothing to process, nothing to show, every dialog cancelled.
class HeadlessPlatform final : public Platform {};

// Shows the busy cursor for the life of a scope, also when it ends by an error.
class BusyCursor {
 public:
  explicit BusyCursor(Platform& platform) : platform_(platform) { platform_.SetBusyCursor(true); }
  ~BusyCursor() { platform_.SetBusyCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Platform& platform_;
};

}  // namespace mendrake
