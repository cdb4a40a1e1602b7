#include "app/RecoveredGrid.h"

#include "devices/AttachedCards.h"
#include "recovery/ShotDays.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace mendrake {
namespace {

// Room for the thumbnail and three lines of text under it.
constexpr QSize kCellSize(184, 190);
constexpr int kHeadingHeight = 32;
// Marks a heading's item: it opens nothing.
constexpr int kHeadingRole = Qt::UserRole + 1;

QString FromSystem(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

// The thumbnail reduced while it is decoded, centred on a cell-wide canvas so
// that every item's text starts at the same height. A damaged file's own JPEG
// (found whole in its bytes) carries a band across its foot that says the
// file itself is damaged.
QPixmap Thumbnail(const std::string& path, bool damaged = false) {
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
    return canvas;
  }
  const QRect placed((canvas.width() - picture.width()) / 2, (canvas.height() - picture.height()) / 2,
                     picture.width(), picture.height());
  painter.drawImage(placed.topLeft(), picture);
  if (damaged) {
    const QRect band(placed.left(), placed.bottom() + 1 - 22, placed.width(), 22);
    painter.fillRect(band, QColor(0xA0, 0x20, 0x20, 0xD0));
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(band, Qt::AlignCenter, QStringLiteral("DAMAGED"));
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
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setWordWrap(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (!item->data(kHeadingRole).toBool()) emit OpenRequested(item->data(Qt::UserRole).toString());
  });
}

void RecoveredGrid::AddHeading(const QString& title) {
  auto* heading = new QListWidgetItem(title, this);
  heading->setData(kHeadingRole, true);
  heading->setFlags(Qt::ItemIsEnabled);
  QFont font = heading->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.15);
  heading->setFont(font);
  heading->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void RecoveredGrid::FitHeadings() {
  const int width = std::max(kCellSize.width(), viewport()->width() - 2 * spacing() - 4);
  for (int i = 0; i < count(); ++i) {
    if (item(i)->data(kHeadingRole).toBool()) item(i)->setSizeHint(QSize(width, kHeadingHeight));
  }
}

void RecoveredGrid::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  FitHeadings();
}

void RecoveredGrid::ShowFiles(const std::vector<RecoveredFile>& files) {
  clear();
  for (const ShotDayGroup& day : GroupByShotDay(files)) {
    AddHeading(FromSystem(day.title));
    for (const std::size_t index : day.files) {
      const RecoveredFile& file = files[index];
      const QString path = FromSystem(file.path);
      const QString size = FromSystem(DeviceSizeText(file.size));
      QString text = QFileInfo(path).fileName() + QLatin1Char('\n') +
                     (file.shotTime ? FromSystem(ShotClockText(*file.shotTime)) + QStringLiteral(", ") + size : size) +
                     QLatin1Char('\n');
      QPixmap icon;
      if (!file.damaged) {
        text += file.camera.empty() ? QStringLiteral("no make or model") : FromSystem(file.camera);
        icon = Thumbnail(file.thumbnail);
      } else if (!file.thumbnail.empty()) {
        text += QStringLiteral("damaged: its JPEG shown");
        icon = Thumbnail(file.thumbnail, true);
      } else {
        text += QStringLiteral("damaged: no true end found");
        icon = DamagedMark();
      }
      auto* item = new QListWidgetItem(QIcon(icon), text, this);
      item->setData(Qt::UserRole, path);
      item->setToolTip(path);
      item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
      item->setSizeHint(kCellSize);
    }
  }
  FitHeadings();
}

}  // namespace mendrake
