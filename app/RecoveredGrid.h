#pragma once

#include "recovery/CardRecovery.h"

#include <QListWidget>

#include <vector>

namespace mendrake {

// The photos a card recovery wrote, as a grid of their thumbnails with name,
// size and camera under each; a damaged file is marked as such. A double
// click asks for the file to be opened (OpenRequested).
class RecoveredGrid : public QListWidget {
  Q_OBJECT

 public:
  // Thumbnails are read reduced to this size: a camera's thumbnail is a
  // full-screen JPEG, and the grid needs a few hundred of them small.
  static constexpr QSize kThumbnailSize{160, 120};

  explicit RecoveredGrid(QWidget* parent = nullptr);

  void ShowFiles(const std::vector<RecoveredFile>& files);

 signals:
  void OpenRequested(const QString& path);
};

}  // namespace mendrake
