// The Qt side of the platform layer: log box, save dialog set-up, filters,
// busy cursor and event processing.
#include "app/LogMemo.h"
#include "app/PictureView.h"
#include "app/QtDialogs.h"
#include "app/QtPlatform.h"
#include "output/Bitmap.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <thread>

namespace mendrake::testing {
namespace {

TEST(LogBox, KeepsEveryLineInOrderAcrossBatches) {
  LogMemo memo;
  memo.Append("");
  memo.Append("first");
  EXPECT_EQ(memo.Lines(), QStringList({QString(), QStringLiteral("first")})) << "lines waiting to be shown count";
  QCoreApplication::processEvents();
  memo.Append("second");
  QCoreApplication::processEvents();
  EXPECT_EQ(memo.Lines(), QStringList({QString(), QStringLiteral("first"), QStringLiteral("second")}));
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("\nfirst\nsecond")) << "shown as they were appended";

  memo.Append("dropped by the clear");
  memo.Clear();
  EXPECT_TRUE(memo.Lines().isEmpty());
  QCoreApplication::processEvents();
  EXPECT_TRUE(memo.toPlainText().isEmpty());

  // An empty first line is a line, not an empty box.
  memo.Append("");
  QCoreApplication::processEvents();
  EXPECT_EQ(memo.Lines(), QStringList({QString()}));
  memo.Append("after");
  QCoreApplication::processEvents();
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("\nafter"));
}

TEST(LogBox, TenThousandLinesArriveWholeAndTheEndStaysInView) {
  LogMemo memo;
  memo.resize(700, 300);
  memo.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
  for (int i = 0; i < 10000; ++i) {
    memo.Append("line " + std::to_string(i));
    if (i % 1000 == 0) QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  const QStringList lines = memo.Lines();
  ASSERT_EQ(lines.size(), 10000);
  EXPECT_EQ(lines.first(), QStringLiteral("line 0"));
  EXPECT_EQ(lines.last(), QStringLiteral("line 9999"));
  EXPECT_EQ(memo.document()->blockCount(), 10000);
  EXPECT_EQ(memo.verticalScrollBar()->value(), memo.verticalScrollBar()->maximum());
}

TEST(LogBox, ShowsLogTextAsUtf8) {
  LogMemo memo;
  memo.Append("Model: Canon EOS D60 \xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(memo.Lines().first(), QStringLiteral("Model: Canon EOS D60 \u00E9\u20AC"));
}

TEST(NameFilters, WindowsFiltersBecomeQtFiltersThatMatchEitherCase) {
  EXPECT_EQ(QtNameFilters("Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*"),
            QStringList({QStringLiteral("Canon Raw Files (*.crw) (*.[cC][rR][wW])"), QStringLiteral("All Files (*.*) (*)")}));
  EXPECT_EQ(QtNameFilters("Pictures|*.jpg;*.jpeg"),
            QStringList({QStringLiteral("Pictures (*.[jJ][pP][gG] *.[jJ][pP][eE][gG])")}));
  EXPECT_TRUE(QtNameFilters("").isEmpty());
  // The converted patterns select what Windows would.
  const QStringList filters = QtNameFilters("Canon Raw Files (*.crw)|*.crw");
  const QString pattern = filters.first().section(QLatin1Char('('), -1).chopped(1);
  const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern));
  EXPECT_TRUE(match.match(QStringLiteral("IMG_0042.CRW")).hasMatch());
  EXPECT_TRUE(match.match(QStringLiteral("img_0042.crw")).hasMatch());
  EXPECT_FALSE(match.match(QStringLiteral("IMG_0042.JPG")).hasMatch());
}

// The real dialogs, with the user's part played by a script that sees the
// dialog as prepared and answers it.
class DialogsWithScriptedUser : public QtDialogs {
 public:
  std::function<int(QFileDialog&)> user;

 protected:
  int RunModal(QFileDialog& dialog) override { return user(dialog); }
};

QString NameBoxText(QFileDialog& dialog) {
  auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  return box ? box->text() : QStringLiteral("<no name box>");
}

TEST(SaveDialog, KeepsTheLastNameForBothKindsOfSaveAndAsksNoOverwrite) {
  QWidget window;
  DialogsWithScriptedUser dialogs;
  QTemporaryDir folder;
  const QString first = folder.filePath(QStringLiteral("first.crw"));

  QString shownName = QStringLiteral("<not shown>");
  dialogs.user = [&](QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    shownName = NameBoxText(dialog);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("crw"));
    EXPECT_EQ(dialog.nameFilters(), QtNameFilters("Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*"));
    dialog.selectNameFilter(dialog.nameFilters().at(1));
    dialog.selectFile(first);
    return static_cast<int>(QDialog::Accepted);
  };
  const auto chosen = dialogs.AskSaveFileName(&window, QStringLiteral("crw"),
                                              QtNameFilters("Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*"));
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, first);
  EXPECT_TRUE(shownName.isEmpty()) << "the first use shows an empty name box";

  // The thumbnail's save starts from the name chosen for the repaired copy,
  // and from the file type chosen then.
  QString shownFilter;
  dialogs.user = [&](QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    shownName = NameBoxText(dialog);
    shownFilter = dialog.selectedNameFilter();
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("jpg"));
    return static_cast<int>(QDialog::Rejected);
  };
  const QStringList jpegFilters = QtNameFilters("JPEG Files (*.jpg)|*.jpg|All Files (*.*)|*.*");
  EXPECT_FALSE(dialogs.AskSaveFileName(&window, QStringLiteral("jpg"), jpegFilters).has_value());
  EXPECT_EQ(shownName, QStringLiteral("first.crw"));
  EXPECT_FALSE(shownFilter.isEmpty());
  EXPECT_TRUE(jpegFilters.at(1).startsWith(shownFilter)) << shownFilter.toStdString();
}

TEST(OpenDialog, AsksForSeveralExistingFilesWithoutAFilter) {
  QWidget window;
  DialogsWithScriptedUser dialogs;
  QTemporaryDir folder;
  const QString a = folder.filePath(QStringLiteral("a.crw"));
  const QString b = folder.filePath(QStringLiteral("b.crw"));
  WriteFile(QFile::encodeName(a).toStdString(), Bytes{1});
  WriteFile(QFile::encodeName(b).toStdString(), Bytes{2});
  dialogs.user = [&](QFileDialog& dialog) {
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_TRUE(dialog.nameFilters().isEmpty() || dialog.nameFilters() == QStringList({QStringLiteral("All Files (*)")}));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(folder.path());
    dialog.selectFile(QStringLiteral("\"b.crw\" \"a.crw\""));
    return static_cast<int>(QDialog::Accepted);
  };
  const std::vector<QString> chosen = dialogs.AskOpenFileNames(&window);
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0], b) << "full paths, in the order chosen";
  EXPECT_EQ(chosen[1], a);

  // The first save starts in the folder the files came from.
  QString saveFolder;
  dialogs.user = [&](QFileDialog& dialog) {
    saveFolder = dialog.directory().absolutePath();
    return static_cast<int>(QDialog::Rejected);
  };
  EXPECT_FALSE(dialogs.AskSaveFileName(&window, QStringLiteral("crw"), {}).has_value());
  EXPECT_EQ(saveFolder, QDir(folder.path()).absolutePath());

  dialogs.user = [](QFileDialog&) { return static_cast<int>(QDialog::Rejected); };
  EXPECT_TRUE(dialogs.AskOpenFileNames(&window).empty());
}

class PlatformTest : public ::testing::Test {
 protected:
  QWidget window_;
  ScriptedDialogs dialogs_;
  PictureView view_;
  QtPlatform platform_{window_, dialogs_, view_};
};

TEST_F(PlatformTest, SaveDialogGetsQtFormAndGivesAPath) {
  dialogs_.saveAnswers.push_back(QStringLiteral("/tmp/chosen name.crw"));
  const auto answer = platform_.AskSaveFileName(".crw", "Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*");
  ASSERT_EQ(dialogs_.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs_.saveRequests[0].defaultSuffix, QStringLiteral("crw"));
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "/tmp/chosen name.crw");
  dialogs_.saveAnswers.push_back(QString());
  EXPECT_FALSE(platform_.AskSaveFileName(".jpg", "JPEG Files (*.jpg)|*.jpg").has_value());
}

TEST_F(PlatformTest, BusyCursorNestsAndIsRestored) {
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  {
    BusyCursor outer(platform_);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    BusyCursor inner(platform_);
    EXPECT_EQ(platform_.BusyDepth(), 2);
  }
  EXPECT_EQ(platform_.BusyDepth(), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  platform_.SetBusyCursor(false);  // one restore too many does not pop another's cursor
  EXPECT_EQ(platform_.BusyDepth(), 0);
}

TEST_F(PlatformTest, PendingEventsAreHandledOnceTheirTimeHasCome) {
  bool delivered = false;
  QTimer::singleShot(0, &window_, [&] { delivered = true; });
  std::this_thread::sleep_for(std::chrono::milliseconds(QtPlatform::kEventIntervalMs + 5));
  // The engine reports work; only every so many units is the clock read.
  for (std::uint32_t i = 0; i < Platform::kWorkUnitsPerClockCheck; ++i) platform_.NoteWork();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(platform_.EventRounds(), 1);
}

// Tests put a user's action at a chosen point of a run this way.
TEST_F(PlatformTest, AChosenClockCheckHandlesPendingEventsAtOnce) {
  std::vector<long> asked;
  platform_.SetEventRoundChooser([&](long check) {
    asked.push_back(check);
    return check == 3;
  });
  bool delivered = false;
  const long before = platform_.EventRounds();
  for (int i = 0; i < 2; ++i) platform_.ProcessEventsIfDue();
  QMetaObject::invokeMethod(&window_, [&] { delivered = true; }, Qt::QueuedConnection);
  platform_.ProcessEventsIfDue();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(asked, (std::vector<long>{1, 2, 3}));
  EXPECT_GE(platform_.EventRounds(), before + 1);
  platform_.SetEventRoundChooser(nullptr);
}

TEST_F(PlatformTest, PictureIsCopiedIntoTheView) {
  RgbBitmap bitmap;
  bitmap.width = 2;
  bitmap.height = 1;
  bitmap.pixels = {255, 0, 0, 0, 0, 255};
  platform_.ShowPicture(bitmap);
  bitmap.pixels.assign(6, 0);
  ASSERT_EQ(view_.Picture().size(), QSize(2, 1));
  EXPECT_EQ(view_.Picture().pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(view_.Picture().pixelColor(1, 0), QColor(0, 0, 255));

  RgbBitmap broken;  // claims more pixels than it holds
  broken.width = 100;
  broken.height = 100;
  platform_.ShowPicture(broken);
  EXPECT_EQ(view_.Picture().size(), QSize(2, 1));
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
