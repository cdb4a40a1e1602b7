// Each command through its toolbar action, its button and its access key.
#include "app/LogMemo.h"
#include "app/Manual.h"
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace mendrake::testing {
namespace {

using WindowCommands = WindowTest;

const QStringList kCrwFilters = {QStringLiteral("Canon Raw Files (*.crw) (*.[cC][rR][wW])"),
                                 QStringLiteral("All Files (*.*) (*)")};
const QStringList kJpegFilters = {QStringLiteral("JPEG Files (*.jpg) (*.[jJ][pP][gG])"),
                                  QStringLiteral("All Files (*.*) (*)")};

Bytes ReadBack(const QString& path) { return ReadFile(QFile::encodeName(path).toStdString()); }

Bytes Prefix(const Bytes& bytes, std::size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }

TEST_F(WindowCommands, RepairOpenRunsOnTheChosenFilesInTheirOrder) {
  const QString first = WriteTestFile(QStringLiteral("b.crw"), MakeCameraFile());
  const QString second = WriteTestFile(QStringLiteral("a.crw"), MakeFileWithoutThumbnail());
  RepairThrough({first, second});
  EXPECT_EQ(dialogs_.openRequests, 1);
  const QStringList lines = LogLines();
  const qsizetype firstAt = lines.indexOf(QStringLiteral("Repairing file ") + first);
  const qsizetype secondAt = lines.indexOf(QStringLiteral("Repairing file ") + second);
  ASSERT_GE(firstAt, 0) << lines.join('\n').toStdString();
  EXPECT_EQ(firstAt, 0) << "the run clears the banner";
  EXPECT_GT(secondAt, firstAt);
  EXPECT_EQ(form_->State().CurrentFilename, QFile::encodeName(second).toStdString());
}

TEST_F(WindowCommands, CancellingTheOpenDialogChangesNothing) {
  const QStringList before = LogLines();
  RepairThrough({});
  EXPECT_EQ(dialogs_.openRequests, 1);
  EXPECT_EQ(LogLines(), before);
}

TEST_F(WindowCommands, AccessKeysWorkInEitherCaseWithTheFocusInTheLog) {
  form_->Memo1->setFocus();
  PressAccessKey(form_->Memo1, Qt::Key_R);
  EXPECT_EQ(dialogs_.openRequests, 1);
  PressAccessKey(form_->Memo1, Qt::Key_R, /*shift=*/true);
  EXPECT_EQ(dialogs_.openRequests, 2);
  EXPECT_TRUE(LogLines().first().startsWith(QLatin1Char('+'))) << "letters with Alt are not typed into the log";

  // Help has no access key: Alt+H does nothing.
  PressAccessKey(form_->Memo1, Qt::Key_H);
  EXPECT_EQ(LogLines().size(), 3);
}

TEST_F(WindowCommands, RecoverFromCardWritesTheFilesListsThemAndPreviewsTheLastThumbnail) {
  Bytes card(4 * 32768, 0x5A);
  const Bytes file = MakeFileWithJpeg(64, 48, Qt::blue);
  std::copy(file.begin(), file.end(), card.begin() + 32768);
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("card.img"), card);
  dialogs_.folderAnswer = PathIn(QStringLiteral("recovered"));
  PressAccessKey(form_->Memo1, Qt::Key_D);
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_EQ(ReadBack(PathIn(QStringLiteral("recovered/CRW_0001.CRW"))), file);
  EXPECT_TRUE(LogLines().first().startsWith(QStringLiteral("At 32768: CRW_0001.CRW"))) << LogLines().join('\n').toStdString();
  EXPECT_TRUE(LogLines().last().startsWith(QStringLiteral("Recovered 1 CRW file, 0 damaged")));
  EXPECT_FALSE(form_->Image1->Picture().isNull());
  EXPECT_TRUE(form_->actRepair->isEnabled());
}

TEST_F(WindowCommands, ToolbarButtonsRunTheirCommands) {
  QToolBar* toolbar = form_->TBToolbar1;
  QTest::mouseClick(toolbar->widgetForAction(form_->actRepair), Qt::LeftButton);
  EXPECT_EQ(dialogs_.openRequests, 1);
  QTest::mouseClick(toolbar->widgetForAction(form_->actHelp), Qt::LeftButton);
  EXPECT_EQ(LogLines().size(), 3 + 12);
  QTest::mouseClick(form_->WebsiteButton, Qt::LeftButton);
  ASSERT_EQ(dialogs_.openedAddresses.size(), 1u);
  EXPECT_EQ(dialogs_.openedAddresses.front(), QUrl::fromLocalFile(ManualPath()));
  QTest::mouseClick(toolbar->widgetForAction(form_->FileExit1), Qt::LeftButton);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowCommands, AccessKeysWorkWhileTheToolbarFloats) {
  Settle();
  DragToolbar(form_->TBToolbar1, form_->mapToGlobal(QPoint(200, 450)));
  ASSERT_TRUE(form_->TBToolbar1->isFloating());

  // With the focus back in the log box of the main window...
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->Memo1->setFocus();
  PressAccessKey(form_->Memo1, Qt::Key_R);
  EXPECT_EQ(dialogs_.openRequests, 1);

  // ...and in the floating toolbar's own window.
  form_->TBToolbar1->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_->TBToolbar1));
  PressAccessKey(form_->TBToolbar1, Qt::Key_R, /*shift=*/true);
  EXPECT_EQ(dialogs_.openRequests, 2);
  PressAccessKey(form_->TBToolbar1, Qt::Key_X);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowCommands, ExitWithItsAccessKeyClosesTheWindow) {
  form_->Memo1->setFocus();
  PressAccessKey(form_->Memo1, Qt::Key_X);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowCommands, SaveWritesTheRepairedCopyUnderTheDerivedName) {
  Bytes file = MakeFileWithJpeg(160, 120, Qt::red);
  const std::size_t trueSize = file.size();
  AppendJunk(file, JunkKind::kRandom, 1000);
  const QString source = WriteTestFile(QStringLiteral("IMG_0042.CRW"), file);
  RepairThrough({source});
  ASSERT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));

  dialogs_.saveAnswers.push_back(PathIn(QStringLiteral("chosen.crw")));
  form_->actSave->trigger();
  ASSERT_EQ(dialogs_.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs_.saveRequests[0].defaultSuffix, QStringLiteral("crw"));
  EXPECT_EQ(dialogs_.saveRequests[0].nameFilters, kCrwFilters);
  EXPECT_FALSE(QFileInfo::exists(PathIn(QStringLiteral("chosen.crw")))) << "the chosen name itself is not written";
  EXPECT_EQ(ReadBack(PathIn(QStringLiteral("chosen.crw_repaired.crw"))), Prefix(file, trueSize));

  // Again through Alt+S; a cancelled dialog writes nothing.
  dialogs_.saveAnswers.push_back(QString());
  PressAccessKey(form_->Memo1, Qt::Key_S);
  EXPECT_EQ(dialogs_.saveRequests.size(), 2u);
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(WindowCommands, SaveJpegWritesTheThumbnailUnderTheChosenName) {
  const Bytes jpeg = MakeJpeg(160, 120, Qt::blue);
  CameraFileOptions options;
  options.thumbnail = jpeg;
  const QString source = WriteTestFile(QStringLiteral("IMG_0043.CRW"), MakeCameraFile(options));
  RepairThrough({source});

  dialogs_.saveAnswers.push_back(PathIn(QStringLiteral("thumb.jpg")));
  PressAccessKey(form_->Memo1, Qt::Key_J, /*shift=*/true);
  ASSERT_EQ(dialogs_.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs_.saveRequests[0].defaultSuffix, QStringLiteral("jpg"));
  EXPECT_EQ(dialogs_.saveRequests[0].nameFilters, kJpegFilters);
  EXPECT_EQ(ReadBack(PathIn(QStringLiteral("thumb.jpg"))), jpeg);

  dialogs_.saveAnswers.push_back(PathIn(QStringLiteral("again.jpg")));
  form_->actSaveJPEG->trigger();
  EXPECT_EQ(ReadBack(PathIn(QStringLiteral("again.jpg"))), jpeg);
}

TEST_F(WindowCommands, SaveJpegDoesNothingWithoutAThumbnail) {
  const QString source = WriteTestFile(QStringLiteral("bare.crw"), MakeFileWithoutThumbnail());
  RepairThrough({source});
  ASSERT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
  form_->actSaveJPEG->trigger();
  PressAccessKey(form_->Memo1, Qt::Key_J);
  EXPECT_TRUE(dialogs_.saveRequests.empty());

  // The repaired copy can still be saved.
  dialogs_.saveAnswers.push_back(PathIn(QStringLiteral("bare-out.crw")));
  form_->actSave->trigger();
  EXPECT_TRUE(QFileInfo::exists(PathIn(QStringLiteral("bare-out.crw_repaired.crw"))));
}

TEST_F(WindowCommands, SavesDoNothingWhenNoSizeWasFound) {
  Bytes file = MakeFileWithJpeg(64, 48, Qt::green);
  file.resize(file.size() / 2);  // cut inside its data: no candidate size succeeds
  const QString source = WriteTestFile(QStringLiteral("cut.crw"), file);
  RepairThrough({source});
  ASSERT_FALSE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
  form_->actSave->trigger();
  form_->actSaveJPEG->trigger();
  PressAccessKey(form_->Memo1, Qt::Key_S);
  EXPECT_TRUE(dialogs_.saveRequests.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(WindowCommands, SavesDoNothingBeforeAnyRun) {
  form_->actSave->trigger();
  form_->actSaveJPEG->trigger();
  EXPECT_TRUE(dialogs_.saveRequests.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

// The Website button opens the manual: the README as HTML, here the one in
// the build tree, with every picture it shows beside it.
TEST_F(WindowCommands, WebsiteOpensTheManualOrSaysWhereItIs) {
  const QStringList before = LogLines();
  form_->TBItem7->trigger();
  ASSERT_EQ(dialogs_.openedAddresses.size(), 1u);
  const QUrl address = dialogs_.openedAddresses.front();
  ASSERT_TRUE(address.isLocalFile()) << address.toString().toStdString();
  const QFileInfo manual(address.toLocalFile());
  EXPECT_EQ(manual.canonicalFilePath(),
            QFileInfo(QStringLiteral(MENDRAKE_MANUAL_BUILD_DIR "/manual.html")).canonicalFilePath());
  EXPECT_EQ(LogLines(), before) << "an opened manual needs no word in the log";

  QFile page(manual.filePath());
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  const QString html = QString::fromUtf8(page.readAll());
  EXPECT_TRUE(html.contains(QStringLiteral("<h1>Mendrake</h1>")));
  EXPECT_TRUE(html.contains(QStringLiteral("<h2>Using the window</h2>")));
  QStringList pictures;
  for (const QRegularExpressionMatch& image :
       QRegularExpression(QStringLiteral("<img src=\"([^\"]+)\"")).globalMatch(html)) {
    pictures << image.captured(1);
  }
  EXPECT_EQ(pictures, QStringList({QStringLiteral("docs/mendrake-window.png"), QStringLiteral("docs/card-chooser.png"),
                                   QStringLiteral("docs/recovered-photos.png")}));
  for (const QString& picture : pictures) {
    EXPECT_FALSE(QImage(manual.dir().filePath(picture)).isNull()) << picture.toStdString() << " does not show";
  }

  // No browser on this desktop: the log says where the manual is.
  dialogs_.browserOpens = false;
  form_->TBItem7->trigger();
  EXPECT_EQ(dialogs_.openedAddresses.size(), 2u);
  EXPECT_EQ(LogLines(), before + QStringList({QStringLiteral("No browser could open the manual. It is at ") +
                                              QDir::toNativeSeparators(manual.filePath())}));
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
