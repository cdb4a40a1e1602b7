#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>

namespace mendrake {

// The picture view: shows its picture as large as fits, enlarged or reduced,
// with its aspect ratio kept and centred. It keeps the last picture until
// another replaces it.
class PictureView : public QWidget {
  Q_OBJECT

 public:
  explicit PictureView(QWidget* parent = nullptr);

  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }

  // Where the picture is drawn at the view's current size; empty without one.
  QRect PictureRect() const;
  static QRect FittedRect(QSize picture, QSize area);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
  QPixmap scaled_;  // the picture at the size last drawn
};

}  // namespace mendrake
