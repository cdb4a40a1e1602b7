// The thumbnail in the picture panel: shown, fitted, centred, rescaled, kept.
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QSplitter>
#include <QTest>

#include <cstdlib>

namespace mendrake::testing {
namespace {

using WindowPreview = WindowTest;

// Fitted: as large as the view allows in one direction, with the picture's
// proportions, and the same margin on either side.
void ExpectFittedAndCentred(const PictureView& view, QSize picture) {
  const QRect shown = view.PictureRect();
  const QSize area = view.size();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(shown));
  EXPECT_TRUE(shown.width() == area.width() || shown.height() == area.height())
      << shown.width() << "x" << shown.height() << " in " << area.width() << "x" << area.height();
  const double ratio = static_cast<double>(picture.width()) / picture.height();
  EXPECT_NEAR(static_cast<double>(shown.width()) / shown.height(), ratio, 0.02);
  EXPECT_LE(std::abs(shown.left() - (area.width() - shown.right() - 1)), 1);
  EXPECT_LE(std::abs(shown.top() - (area.height() - shown.bottom() - 1)), 1);
}

bool IsReddish(QColor colour) { return colour.red() > 180 && colour.green() < 80 && colour.blue() < 80; }

TEST_F(WindowPreview, TheThumbnailIsShownFittedAndCentred) {
  const QString path = WriteTestFile(QStringLiteral("red.crw"), MakeFileWithJpeg(160, 120, Qt::red, 500));
  RepairThrough({path});
  Settle();
  const PictureView& view = *form_->Image1;
  ASSERT_EQ(view.Picture().size(), QSize(160, 120));
  ExpectFittedAndCentred(view, QSize(160, 120));
  // The panel is wider than 4:3, so the picture is enlarged to its height.
  EXPECT_EQ(view.PictureRect().height(), view.height());
  EXPECT_GT(view.PictureRect().width(), 160);

  // What the user sees: the picture in the middle, white panel at the sides.
  const QImage screen = form_->Panel1->grab().toImage();
  const QRect shown = view.PictureRect().translated(view.pos());
  EXPECT_TRUE(IsReddish(screen.pixelColor(shown.left() + 4, shown.center().y())));
  EXPECT_EQ(screen.pixelColor(shown.center()), QColor(Qt::white)) << "the square in the picture's middle";
  EXPECT_EQ(screen.pixelColor(shown.left() - 4, shown.center().y()), QColor(Qt::white));
  EXPECT_EQ(screen.pixelColor(shown.right() + 4, shown.center().y()), QColor(Qt::white));
}

TEST_F(WindowPreview, AWidePictureIsCentredTopToBottom) {
  const QString path = WriteTestFile(QStringLiteral("wide.crw"), MakeFileWithJpeg(400, 50, Qt::red));
  RepairThrough({path});
  Settle();
  const PictureView& view = *form_->Image1;
  ExpectFittedAndCentred(view, QSize(400, 50));
  EXPECT_EQ(view.PictureRect().width(), view.width());
  EXPECT_GT(view.PictureRect().top(), 10);
}

TEST_F(WindowPreview, ResizingTheWindowOrMovingTheSplitterRescalesThePicture) {
  const QString path = WriteTestFile(QStringLiteral("red.crw"), MakeFileWithJpeg(160, 120, Qt::red));
  RepairThrough({path});
  Settle();
  PictureView& view = *form_->Image1;
  const QRect before = view.PictureRect();

  form_->resize(1000, 900);
  Settle();
  ExpectFittedAndCentred(view, QSize(160, 120));
  const QRect larger = view.PictureRect();
  EXPECT_GT(larger.height(), before.height());

  QSplitterHandle* handle = form_->Splitter1->handle(1);
  const QPoint grip(handle->width() / 2, handle->height() / 2);
  QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
  QTest::mouseMove(handle, grip + QPoint(0, 200));
  QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip + QPoint(0, 200));
  Settle();
  ExpectFittedAndCentred(view, QSize(160, 120));
  EXPECT_EQ(view.PictureRect().height(), larger.height() - 200);

  // The drawing follows: the picture's left edge moved with the new size.
  const QImage screen = view.grab().toImage();
  const QRect shown = view.PictureRect();
  EXPECT_TRUE(IsReddish(screen.pixelColor(shown.left() + 3, shown.center().y())));
  EXPECT_EQ(screen.pixelColor(shown.left() - 3, shown.center().y()), QColor(Qt::white));
}

TEST_F(WindowPreview, APictureStaysUntilAnotherReplacesIt) {
  const QString red = WriteTestFile(QStringLiteral("red.crw"), MakeFileWithJpeg(160, 120, Qt::red));
  RepairThrough({red});
  const QImage first = form_->Image1->Picture();
  ASSERT_FALSE(first.isNull());

  const QString notCrw = WriteTestFile(QStringLiteral("text.crw"), Bytes{'h', 'e', 'l', 'l', 'o'});
  const QString bare = WriteTestFile(QStringLiteral("bare.crw"), MakeFileWithoutThumbnail());
  RepairThrough({notCrw});
  EXPECT_EQ(form_->Image1->Picture(), first);
  RepairThrough({bare});
  EXPECT_EQ(form_->Image1->Picture(), first);

  // In a run of several files only the last one is previewed.
  const QString wide = WriteTestFile(QStringLiteral("wide.crw"), MakeFileWithJpeg(200, 50, Qt::blue));
  const QString tall = WriteTestFile(QStringLiteral("tall.crw"), MakeFileWithJpeg(50, 200, Qt::blue));
  RepairThrough({wide, tall});
  EXPECT_EQ(form_->Image1->Picture().size(), QSize(50, 200));
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
