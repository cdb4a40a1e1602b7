#include "app/Artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>

namespace mendrake {
namespace {

// A closed outline through the points, in order.
QPainterPath Outline(std::initializer_list<QPointF> points) {
  QPainterPath path;
  path.addPolygon(QPolygonF(QList<QPointF>(points)));
  path.closeSubpath();
  return path;
}

constexpr QSize kWebsiteSize(120, 25);

void DrawGlobe(QPainter& painter, const QRectF& box) {
  painter.setPen(QPen(QColor(255, 255, 255), 1.2));
  painter.setBrush(QColor(70, 150, 220));
  painter.drawEllipse(box);
  painter.setBrush(Qt::NoBrush);
  const QPointF centre = box.center();
  painter.drawEllipse(QRectF(centre.x() - box.width() / 4, box.top(), box.width() / 2, box.height()));
  painter.drawLine(QPointF(centre.x(), box.top()), QPointF(centre.x(), box.bottom()));
  painter.drawLine(QPointF(box.left(), centre.y()), QPointF(box.right(), centre.y()));
}

// Draws on a canvas of 24 by 24 units at each size the toolbar may ask for,
// up to twice its 24 pixels for screens at a scale of 2.
QIcon DrawnIcon(void (*draw)(QPainter& painter)) {
  QIcon icon;
  for (const int side : {16, 24, 32, 48}) {
    QPixmap picture(side, side);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 24.0, side / 24.0);
    draw(painter);
    painter.end();
    icon.addPixmap(picture);
  }
  return icon;
}

void DrawSaveJpeg(QPainter& painter) {
  // The photograph: sky, sun and a hill in a frame.
  const QRectF frame(1.5, 2.5, 19, 15);
  painter.setPen(QPen(QColor(60, 60, 60), 1));
  painter.setBrush(QColor(150, 200, 240));
  painter.drawRect(frame);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(250, 200, 40));
  painter.drawEllipse(QPointF(15.5, 6.5), 2.2, 2.2);
  const QPainterPath hill = Outline({{2, 17}, {8, 9}, {12, 13}, {14.5, 11}, {20.5, 17}});
  painter.setBrush(QColor(60, 140, 60));
  painter.drawPath(hill);

  // The arrow: out of the file, onto the disk.
  const QPainterPath arrow = Outline({{17, 12}, {21, 12}, {21, 17}, {23.5, 17}, {19, 22.5}, {14.5, 17}, {17, 17}});
  painter.setPen(QPen(QColor(20, 70, 20), 0.8));
  painter.setBrush(QColor(40, 170, 60));
  painter.drawPath(arrow);
}

void DrawCard(QPainter& painter) {
  // The card's body, its top right corner cut as on a real card.
  const QPainterPath body = Outline({{4.5, 2.5}, {15.5, 2.5}, {19.5, 6.5}, {19.5, 21.5}, {4.5, 21.5}});
  painter.setPen(QPen(QColor(20, 30, 60), 1));
  painter.setBrush(QColor(45, 75, 140));
  painter.drawPath(body);

  // The contacts along the top, and the label.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(235, 190, 60));
  for (int i = 0; i < 4; ++i) painter.drawRect(QRectF(6 + i * 2.5, 4, 1.5, 4));
  painter.setBrush(QColor(240, 244, 250));
  painter.drawRect(QRectF(6.5, 11, 11, 8));
  painter.setBrush(QColor(200, 60, 50));
  painter.drawRect(QRectF(6.5, 11, 11, 2));
}

// A stop sign: the run ends here.
void DrawStop(QPainter& painter) {
  QPolygonF octagon;
  for (int corner = 0; corner < 8; ++corner) {
    const double angle = (22.5 + 45.0 * corner) * std::numbers::pi / 180.0;
    octagon << QPointF(12 + 10.5 * std::cos(angle), 12 + 10.5 * std::sin(angle));
  }
  painter.setPen(QPen(QColor(120, 20, 20), 1));
  painter.setBrush(QColor(210, 45, 40));
  painter.drawPolygon(octagon);
  painter.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
  painter.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
}

}  // namespace

QPixmap WebsitePicture(qreal devicePixelRatio) {
  // Drawn in device pixels: a picture of 1x scaled up blurs on a screen at 2x.
  QPixmap picture(kWebsiteSize * devicePixelRatio);
  picture.setDevicePixelRatio(devicePixelRatio);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);

  const QRectF face(0.5, 0.5, kWebsiteSize.width() - 1, kWebsiteSize.height() - 1);
  QLinearGradient shade(face.topLeft(), face.bottomLeft());
  shade.setColorAt(0, QColor(44, 110, 170));
  shade.setColorAt(1, QColor(18, 58, 104));
  painter.setPen(QColor(12, 40, 74));
  painter.setBrush(shade);
  painter.drawRoundedRect(face, 5, 5);

  DrawGlobe(painter, QRectF(5, 4, 17, 17));

  const QString words = QStringLiteral("Website");
  const QRectF room(25, 0, kWebsiteSize.width() - 29, kWebsiteSize.height());
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  // The largest size up to 14 pixels at which the words fit, whichever face
  // the system has: text width grows in step with the size.
  constexpr int kLargest = 14;
  font.setPixelSize(kLargest);
  const qreal width = QFontMetricsF(font).horizontalAdvance(words);
  if (width > room.width()) font.setPixelSize(std::max(7, static_cast<int>(kLargest * room.width() / width)));
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(room, Qt::AlignCenter, words);
  return picture;
}

QIcon WebsiteIcon() {
  QIcon icon;
  for (const qreal ratio : {1.0, 2.0}) icon.addPixmap(WebsitePicture(ratio));
  return icon;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/mendrake-%1.png").arg(side), QSize(side, side));
  }
  return icon;
}

QIcon SaveJpegIcon() { return DrawnIcon(DrawSaveJpeg); }

// The style's drive and stop pictures come at no more than 32 pixels and blur
// at a scale of 2: these two are drawn here.
QIcon CardIcon() { return DrawnIcon(DrawCard); }
QIcon CancelIcon() { return DrawnIcon(DrawStop); }

QIcon RepairOpenIcon(const QStyle& style) { return style.standardIcon(QStyle::SP_DialogOpenButton); }
QIcon SaveIcon(const QStyle& style) { return style.standardIcon(QStyle::SP_DialogSaveButton); }
QIcon ExitIcon(const QStyle& style) { return style.standardIcon(QStyle::SP_DialogCloseButton); }
QIcon HelpIcon(const QStyle& style) { return style.standardIcon(QStyle::SP_DialogHelpButton); }

}  // namespace mendrake
