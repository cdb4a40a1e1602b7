#pragma once

#include "recovery/CardRecovery.h"

#include <QListWidget>

#include <vector>

namespace mendrake {

// The photos a card recovery wrote, as a grid of their thumbnails with name,
// shot time, size and camera under each, by the day they were shot in shot
// order (ShotDays.h), each day under a heading of its own; a damaged file
// shows its JPEG where it has one, marked as damaged. A double click asks for
// the file to be opened (OpenRequested).
class RecoveredGrid : public QListWidget {
  Q_OBJECT

 public:
  // Thumbnails are read reduced to this size: a camera's thumbnail is a
  // full-screen JPEG, and the grid needs a few hundred of them small.
  static constexpr QSize kThumbnailSize{160, 120};

  explicit RecoveredGrid(QWidget* parent = nullptr);

  void ShowFiles(const std::vector<RecoveredFile>& files);

 protected:
  // Headings span the whole width, so that each day starts a row of its own.
  void resizeEvent(QResizeEvent* event) override;

 signals:
  void OpenRequested(const QString& path);

 private:
  void AddHeading(const QString& title);
  void FitHeadings();
};

}  // namespace mendrake
