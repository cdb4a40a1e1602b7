// What the window does while a repair run is in progress, and when a command fails.
#include "analysis/AnalysisState.h"
#include "files/FileError.h"
#include "app/LogMemo.h"
#include "app/MendrakeApplication.h"
#include "app/QtPlatform.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <stdexcept>

namespace mendrake::testing {
namespace {

class WindowDuringRun : public WindowTest {
 protected:
  // A file whose search takes several looks at the clock: a thumbnail, then junk.
  QString LongSearchFile(const QString& name) {
    return WriteTestFile(name, MakeFileWithJpeg(64, 48, Qt::darkGreen, kJunkOfSeveralClockChecks));
  }
};

bool IsCancelLine(const QString& line) { return line.contains(QStringLiteral("cancel"), Qt::CaseInsensitive); }

TEST_F(WindowDuringRun, CancelIsOfferedOnlyWhileARunIsInProgress) {
  const QString path = LongSearchFile(QStringLiteral("long.crw"));
  bool cancelShown = false, cancelEnabled = false, repairEnabled = true, busy = false;
  DuringTheSearchOf(path, [&] {
    // The toolbar lays out its new button as it handles its pending events.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    cancelShown = form_->actCancel->isVisible() && form_->TBToolbar1->widgetForAction(form_->actCancel)->isVisible();
    cancelEnabled = form_->actCancel->isEnabled();
    repairEnabled = form_->actRepair->isEnabled();
    busy = QApplication::overrideCursor() != nullptr && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  });
  RepairThrough({path});
  ASSERT_TRUE(actedDuringRun_) << "the window did not handle events during the search";
  EXPECT_TRUE(cancelShown);
  EXPECT_TRUE(cancelEnabled);
  EXPECT_FALSE(repairEnabled);
  EXPECT_TRUE(busy);
  EXPECT_GT(form_->Platform().EventRounds(), 0);

  EXPECT_FALSE(form_->actCancel->isVisible());
  EXPECT_FALSE(form_->actCancel->isEnabled());
  EXPECT_TRUE(form_->actRepair->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
}

TEST_F(WindowDuringRun, CancelClickedStopsTheSearchAndNothingIsSaved) {
  const QString path = LongSearchFile(QStringLiteral("long.crw"));
  DuringTheSearchOf(path, [this] {
    QTest::mouseClick(form_->TBToolbar1->widgetForAction(form_->actCancel), Qt::LeftButton);
  });
  RepairThrough({path});
  ASSERT_TRUE(actedDuringRun_);
  const QStringList lines = LogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), IsCancelLine)) << lines.join('\n').toStdString();
  EXPECT_FALSE(lines.contains(QStringLiteral("Successfully repaired file.")));
  EXPECT_FALSE(SearchFoundSize(form_->State()));

  dialogs_.saveAnswers = {PathIn(QStringLiteral("out.crw")), PathIn(QStringLiteral("out.jpg"))};
  form_->actSave->trigger();
  form_->actSaveJPEG->trigger();
  EXPECT_TRUE(dialogs_.saveRequests.empty());
  EXPECT_EQ(QDir(PathIn(QString())).entryList(QDir::Files).size(), 1) << "only the source is there";
}

TEST_F(WindowDuringRun, AltCCancelsAndEndsAMultiFileRun) {
  const QString first = LongSearchFile(QStringLiteral("first.crw"));
  const QString second = WriteTestFile(QStringLiteral("second.crw"), MakeCameraFile());
  DuringTheSearchOf(first, [this] { PressAccessKey(form_->Memo1, Qt::Key_C); });
  RepairThrough({first, second});
  ASSERT_TRUE(actedDuringRun_);
  const QStringList lines = LogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), IsCancelLine)) << lines.join('\n').toStdString();
  EXPECT_FALSE(lines.contains(QStringLiteral("Repairing file ") + second)) << "the run ends after a cancel";
  EXPECT_FALSE(QFileInfo::exists(first + QStringLiteral("_repaired.crw")));
  EXPECT_FALSE(QFileInfo::exists(PathIn(QStringLiteral("first_repaired.crw"))));
}

TEST_F(WindowDuringRun, NoSecondRunStartsInsideTheFirst) {
  const QString path = LongSearchFile(QStringLiteral("long.crw"));
  const QString other = WriteTestFile(QStringLiteral("other.crw"), MakeCameraFile());
  DuringTheSearchOf(path, [&] {
    dialogs_.openAnswers.push_back({other});
    form_->actRepair->trigger();
    PressAccessKey(form_->Memo1, Qt::Key_R);
    QTest::mouseClick(form_->TBToolbar1->widgetForAction(form_->actRepair), Qt::LeftButton);
    form_->actRepairExecute();
  });
  RepairThrough({path});
  ASSERT_TRUE(actedDuringRun_);
  EXPECT_EQ(dialogs_.openRequests, 1) << "the open dialog was not shown again during the run";
  const QStringList lines = LogLines();
  EXPECT_FALSE(lines.contains(QStringLiteral("Repairing file ") + other));
  EXPECT_EQ(lines.filter(QStringLiteral("Repairing file ")).size(), 1);
  EXPECT_EQ(form_->State().CurrentFilename, QFile::encodeName(path).toStdString());
}

TEST_F(WindowDuringRun, ClosingDuringARunTakesEffectWhenTheRunIsOver) {
  const QString first = LongSearchFile(QStringLiteral("first.crw"));
  const QString second = WriteTestFile(QStringLiteral("second.crw"), MakeCameraFile());
  bool stillShown = false;
  DuringTheSearchOf(first, [&] {
    form_->close();
    PressAccessKey(form_->Memo1, Qt::Key_X);
    stillShown = form_->isVisible();
  });
  RepairThrough({first, second});
  ASSERT_TRUE(actedDuringRun_);
  EXPECT_TRUE(stillShown);
  // The run went through all its files and wrote their outputs first.
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Repairing file ") + second));
  EXPECT_TRUE(QFileInfo::exists(first + QStringLiteral("_repaired.crw")));
  EXPECT_TRUE(QFileInfo::exists(second + QStringLiteral("_repaired.crw")));
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowDuringRun, HelpDuringARunAppearsAmongItsLines) {
  const QString path = LongSearchFile(QStringLiteral("long.crw"));
  DuringTheSearchOf(path, [this] { form_->actHelp->trigger(); });
  RepairThrough({path});
  ASSERT_TRUE(actedDuringRun_);
  const QStringList lines = LogLines();
  const qsizetype start = lines.indexOf(QStringLiteral("Repairing file ") + path);
  const qsizetype help = lines.indexOf(QStringLiteral(" Mendrake will repair the filesize of a CRW file,"));
  const qsizetype found = lines.indexOf(QRegularExpression(QStringLiteral("Found filesize as: \\d+")));
  EXPECT_LT(start, help);
  EXPECT_LT(help, found);
  EXPECT_TRUE(lines.contains(QStringLiteral("Successfully repaired file.")));
}

using WindowErrors = WindowTest;

TEST_F(WindowErrors, AnUnreadableFileIsReportedAndTheProgramGoesOn) {
  const QString good = WriteTestFile(QStringLiteral("good.crw"), MakeCameraFile());
  const QString missing = PathIn(QStringLiteral("gone.crw"));
  const QString after = WriteTestFile(QStringLiteral("after.crw"), MakeCameraFile());
  RepairThrough({good, missing, after});

  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_TRUE(dialogs_.errors[0].contains(missing)) << dialogs_.errors[0].toStdString();
  EXPECT_TRUE(dialogs_.errors[0].contains(QStringLiteral("No such file or directory"))) << dialogs_.errors[0].toStdString();
  EXPECT_TRUE(dialogs_.errors[0].contains(QStringLiteral("this file was not processed:\n  ") + after));
  // What the run logged before the error stays; paths after it are not processed.
  const QStringList lines = LogLines();
  EXPECT_TRUE(lines.contains(QStringLiteral("Repairing file ") + good));
  EXPECT_FALSE(lines.contains(QStringLiteral("Repairing file ") + after));
  EXPECT_FALSE(form_->RunInProgress());
  EXPECT_TRUE(form_->actRepair->isEnabled());
  EXPECT_FALSE(form_->actCancel->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The window goes on answering.
  form_->actHelp->trigger();
  EXPECT_EQ(LogLines().size(), lines.size() + 12);
  RepairThrough({after});
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
}

TEST_F(WindowErrors, AFolderChosenAsAFileIsReported) {
  const QString folder = PathIn(QStringLiteral("folder.crw"));
  ASSERT_TRUE(QDir().mkpath(folder));
  RepairThrough({folder});
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_TRUE(dialogs_.errors[0].contains(folder));
}

TEST_F(WindowErrors, ASaveWhoseSourceVanishedIsReportedAndTheStateKept) {
  const QString source = WriteTestFile(QStringLiteral("vanish.crw"), MakeFileWithJpeg(32, 32, Qt::red, 100));
  RepairThrough({source});
  const AnalysisState before = form_->State();
  const QStringList lines = LogLines();
  ASSERT_TRUE(QFile::remove(source));

  dialogs_.saveAnswers = {PathIn(QStringLiteral("x.crw")), PathIn(QStringLiteral("x.jpg"))};
  form_->actSave->trigger();
  form_->actSaveJPEG->trigger();
  ASSERT_EQ(dialogs_.errors.size(), 2u);
  for (const QString& error : dialogs_.errors) EXPECT_TRUE(error.contains(source)) << error.toStdString();
  EXPECT_EQ(form_->State().FFilesize, before.FFilesize);
  EXPECT_EQ(form_->State().JPEGStart, before.JPEGStart);
  EXPECT_EQ(form_->State().CurrentFilename, before.CurrentFilename);
  EXPECT_EQ(LogLines(), lines);
  EXPECT_FALSE(QFileInfo::exists(PathIn(QStringLiteral("x.jpg"))));
}

// An object whose event handling fails, as any handler might.
class Failing : public QObject {
 public:
  bool event(QEvent*) override { throw std::runtime_error("the handler failed"); }
};

TEST(ApplicationErrorHandler, AnExceptionLeavingAnEventHandlerIsShownAndStopsThere) {
  auto* application = qobject_cast<MendrakeApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  const QTemporaryDir state;
  qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
  std::vector<QString> reports;
  application->SetReportDisplay([&](const QString& report) { reports.push_back(report); });
  Failing failing;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&failing, &event));
  application->SetReportDisplay(nullptr);
  qunsetenv("XDG_STATE_HOME");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].contains(QStringLiteral("std::runtime_error")));
  EXPECT_TRUE(reports[0].contains(QStringLiteral("the handler failed")));
}

// A file error gets its message box: the file and the reason.
class FailingOnFile : public QObject {
 public:
  bool event(QEvent*) override { throw FileError("/photos/x.crw", "the disk is full"); }
};

TEST(ApplicationErrorHandler, AFileErrorLeavingAnEventHandlerGetsItsMessageBox) {
  auto* application = qobject_cast<MendrakeApplication*>(QCoreApplication::instance());
  std::vector<CommandError> shown;
  application->SetErrorDisplay([&](const CommandError& error) { shown.push_back(error); });
  FailingOnFile failing;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&failing, &event));
  application->SetErrorDisplay(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, QStringLiteral("Mendrake"));
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral("the disk is full")));
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
