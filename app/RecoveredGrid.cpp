#include "app/RecoveredGrid.h"

#include "devices/AttachedCards.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace mendrake {
namespace {

// Room for the thumbnail and three lines of text under it.
constexpr QSize kCellSize(184, 190);

QString FromSystem(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

// The thumbnail reduced while it is decoded, centred on a cell-wide canvas so
// that every item's text starts at the same height.
QPixmap Thumbnail(const std::string& path) {
  QImageReader reader(FromSystem(path));
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  if (full.isValid()) reader.setScaledSize(full.scaled(RecoveredGrid::kThumbnailSize, Qt::KeepAspectRatio));
  const QImage picture = reader.read();
  QPixmap canvas(RecoveredGrid::kThumbnailSize);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  if (picture.isNull()) {
    painter.fillRect(canvas.rect().adjusted(20, 10, -20, -10), QColor(0xE0, 0xE0, 0xE0));
    painter.setPen(Qt::darkGray);
    painter.drawText(canvas.rect(), Qt::AlignCenter, QStringLiteral("no thumbnail"));
  } else {
    painter.drawImage((canvas.width() - picture.width()) / 2, (canvas.height() - picture.height()) / 2, picture);
  }
  return canvas;
}

// A damaged file has no thumbnail to trust: a grey card with the word on it.
QPixmap DamagedMark() {
  QPixmap canvas(RecoveredGrid::kThumbnailSize);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect card = canvas.rect().adjusted(30, 10, -30, -10);
  painter.setPen(QPen(QColor(0xA0, 0x20, 0x20), 2));
  painter.setBrush(QColor(0xF4, 0xE4, 0xE4));
  painter.drawRoundedRect(card, 6, 6);
  QFont font = painter.font();
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(card, Qt::AlignCenter, QStringLiteral("DAMAGED"));
  return canvas;
}

}  // namespace

RecoveredGrid::RecoveredGrid(QWidget* parent) : QListWidget(parent) {
  setViewMode(QListView::IconMode);
  setIconSize(kThumbnailSize);
  setGridSize(kCellSize);
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setUniformItemSizes(true);
  setWordWrap(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { emit OpenRequested(item->data(Qt::UserRole).toString()); });
}

void RecoveredGrid::ShowFiles(const std::vector<RecoveredFile>& files) {
  clear();
  for (const RecoveredFile& file : files) {
    const QString path = FromSystem(file.path);
    QString text = QFileInfo(path).fileName() + QLatin1Char('\n') + FromSystem(DeviceSizeText(file.size)) +
                   QLatin1Char('\n');
    text += file.damaged ? QStringLiteral("damaged: no true end found")
                         : file.camera.empty() ? QStringLiteral("no make or model") : FromSystem(file.camera);
    auto* item = new QListWidgetItem(QIcon(file.damaged ? DamagedMark() : Thumbnail(file.thumbnail)), text, this);
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }
}

}  // namespace mendrake
