// The window at a scale factor of 2, where its client area of 732 by 632
// would take 1464 by 1264 device pixels of the 1280 by 1024 screen.
#include "app/LogMemo.h"
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QScreen>

namespace mendrake::testing {
namespace {

// Before the application object exists, as a user sets it in the environment.
const bool kScaled = qputenv("QT_SCALE_FACTOR", "2");

using ScaledWindow = WindowTest;

TEST_F(ScaledWindow, OpensWithinTheScreenAndItsLogAndPictureStillWork) {
  ASSERT_TRUE(kScaled);
  const QRect available = form_->screen()->availableGeometry();
  ASSERT_EQ(available.size(), QSize(640, 512)) << "the scale factor is in effect";
  EXPECT_EQ(form_->size(), QSize(640, 512));

  const QString path = WriteTestFile(QStringLiteral("red.crw"), MakeFileWithJpeg(160, 120, Qt::red, 500));
  RepairThrough({path});
  Settle();
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
  EXPECT_GT(form_->Memo1->height(), 100);
  const PictureView& view = *form_->Image1;
  EXPECT_EQ(view.Picture().size(), QSize(160, 120));
  EXPECT_GT(view.PictureRect().height(), 100);
  EXPECT_TRUE(QRect(view.mapTo(form_.get(), QPoint(0, 0)), view.size()).bottom() < form_->height());
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
