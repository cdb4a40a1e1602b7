#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QMimeData;
class QWidget;

namespace mendrake {

// Takes files and folders dropped from a file manager onto the widgets it
// watches and hands them on as one "&Repair/Open" run. Only local files are
// taken, by copy or link (the originals are never moved). While busy() says a
// run is in progress, a drag of files is refused, so the cursor shows it, and
// a drop changes nothing. A drag of addresses with no local file among them is
// refused; drags of anything but addresses (text) are left to the widget.
class FileDrop : public QObject {
  Q_OBJECT

 public:
  using Open = std::function<void(const std::vector<std::string>& paths)>;

  FileDrop(std::function<bool()> busy, Open open, QObject* parent = nullptr);

  // Watches the widget (and makes it take drops).
  void Watch(QWidget& widget);

  // The local files a drag carries, in its order; empty when it carries none.
  static std::vector<std::string> LocalFiles(const QMimeData& data);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Accept(QDropEvent& event) const;

  std::function<bool()> busy_;
  Open open_;
};

}  // namespace mendrake
