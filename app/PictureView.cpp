#include "app/PictureView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace mendrake {

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  setMinimumSize(1, 1);
}

void PictureView::SetPicture(const QImage& picture) {
  picture_ = picture;
  scaled_ = QPixmap();
  update();
}

QRect PictureView::FittedRect(QSize picture, QSize area) {
  if (picture.isEmpty() || area.isEmpty()) return {};
  const double scale = std::min(static_cast<double>(area.width()) / picture.width(),
                                static_cast<double>(area.height()) / picture.height());
  const int width = std::clamp(static_cast<int>(std::lround(picture.width() * scale)), 1, area.width());
  const int height = std::clamp(static_cast<int>(std::lround(picture.height() * scale)), 1, area.height());
  return {(area.width() - width) / 2, (area.height() - height) / 2, width, height};
}

QRect PictureView::PictureRect() const { return FittedRect(picture_.size(), size()); }

void PictureView::paintEvent(QPaintEvent*) {
  const QRect target = PictureRect();
  if (target.isEmpty()) return;
  // Scaling a full-size thumbnail takes a while; repaints at the same size reuse it.
  if (scaled_.size() != target.size()) {
    scaled_ = QPixmap::fromImage(
        picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
  QPainter painter(this);
  painter.drawPixmap(target.topLeft(), scaled_);
}

}  // namespace mendrake
