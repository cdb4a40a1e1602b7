#include "app/FileDrop.h"

#include "app/CommandLine.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace mendrake {

FileDrop::FileDrop(std::function<bool()> busy, Open open, QObject* parent)
    : QObject(parent), busy_(std::move(busy)), open_(std::move(open)) {}

void FileDrop::Watch(QWidget& widget) {
  widget.setAcceptDrops(true);
  widget.installEventFilter(this);
}

std::vector<std::string> FileDrop::LocalFiles(const QMimeData& data) {
  std::vector<std::string> paths;
  if (!data.hasUrls()) return paths;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

bool FileDrop::Accept(QDropEvent& event) const {
  if (busy_() || !(event.possibleActions() & (Qt::CopyAction | Qt::LinkAction))) return false;
  // Copy unless only a link is offered: the files stay where they are either way.
  event.setDropAction(event.possibleActions() & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
  event.accept();
  return true;
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
    return QObject::eventFilter(watched, event);
  }
  auto& drop = static_cast<QDropEvent&>(*event);
  // Text dragged into the log box stays the log box's business; addresses
  // of things that are not local files are no text to paste there.
  if (!drop.mimeData()->hasUrls()) return QObject::eventFilter(watched, event);
  std::vector<std::string> paths = LocalFiles(*drop.mimeData());
  if (paths.empty() || !Accept(drop)) {
    drop.ignore();
    return true;
  }
  if (type == QEvent::Drop) {
    // The run starts once the drop is over, so the file manager is not kept
    // waiting for the end of a long search.
    QTimer::singleShot(0, this, [this, files = window::ExpandPaths(paths, QDir::currentPath().toStdString())] {
      if (!busy_()) open_(files);
    });
  }
  return true;
}

}  // namespace mendrake
