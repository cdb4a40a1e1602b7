// The window at a scale factor of 2, where its client area of 732 by 632
// would take 1464 by 1264 device pixels of the 1280 by 1024 screen.
#include "app/Artwork.h"
#include "app/LogMemo.h"
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QAction>
#include <QScreen>
#include <QToolBar>

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

// A picture drawn at the logical size and scaled up blurs: each one must come
// in twice its size.
TEST_F(ScaledWindow, ToolbarPicturesAndTheApplicationIconComeAtTwiceTheirSize) {
  ASSERT_EQ(form_->devicePixelRatio(), 2.0);
  for (QAction* command : {form_->actRepair, form_->actRecover, form_->actSave, form_->actSaveJPEG, form_->actCancel,
                           form_->FileExit1, form_->actHelp}) {
    EXPECT_EQ(command->icon().pixmap(form_->TBToolbar1->iconSize(), 2.0).size(), form_->TBToolbar1->iconSize() * 2)
        << command->objectName().toStdString();
  }
  EXPECT_EQ(form_->TBItem7->icon().pixmap(QSize(120, 25), 2.0).size(), QSize(240, 50));
  for (const int side : {16, 24, 32, 48, 64, 128}) {
    EXPECT_EQ(ApplicationIcon().pixmap(QSize(side, side), 2.0).size(), QSize(side * 2, side * 2)) << side;
  }
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
