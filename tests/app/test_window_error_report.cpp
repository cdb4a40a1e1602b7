// The error report dialog, and an error that is not a file error reaching the
// application's handler while a command runs.
#include "app/CrashReporting.h"
#include "app/ErrorReportDialog.h"
#include "app/LogMemo.h"
#include "crash/CrashNotes.h"
#include "crash/ReportStore.h"
#include "crash/ReportText.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <stdexcept>

namespace mendrake::testing {
namespace {

QString RealReport() {
  crash::CrashRecord record;
  std::string maps;
  crash::CaptureHere(record, maps);
  const crash::ExceptionFacts facts{"std::logic_error", "an invariant failed"};
  return QString::fromStdString(crash::BuildReport(record, maps, &facts));
}

QStringList ButtonTexts(const QDialog& dialog) {
  QStringList texts;
  for (const QPushButton* button : dialog.findChildren<QPushButton*>()) texts << button->text();
  return texts;
}

QPushButton* Button(const QDialog& dialog, const QString& text) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

TEST(ErrorReportDialog, ShowsTheFiveSectionsAsReadOnlyTabsAndCopiesTheWholeReport) {
  const QString report = RealReport();
  ErrorReportDialog dialog(report, true, QStringLiteral("report.txt"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Mendrake error report"));
  QStringList titles;
  for (int i = 0; i < dialog.Tabs()->count(); ++i) {
    titles << dialog.Tabs()->tabText(i);
    auto* text = qobject_cast<QPlainTextEdit*>(dialog.Tabs()->widget(i));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    const QFontMetrics letters(text->font());  // monospace: every letter as wide as every other
    EXPECT_EQ(letters.horizontalAdvance(QLatin1Char('i')), letters.horizontalAdvance(QLatin1Char('W')));
    EXPECT_FALSE(text->toPlainText().isEmpty()) << titles.last().toStdString();
  }
  EXPECT_EQ(titles, (QStringList{"Summary", "Call stack", "Modules", "Processes", "Processor"}));
  const auto summary = qobject_cast<QPlainTextEdit*>(dialog.Tabs()->widget(0))->toPlainText();
  EXPECT_TRUE(summary.contains(QStringLiteral("an invariant failed")));
  EXPECT_TRUE(qobject_cast<QPlainTextEdit*>(dialog.Tabs()->widget(1))->toPlainText().contains(QStringLiteral("RealReport")));

  EXPECT_EQ(ButtonTexts(dialog), (QStringList{"Copy report", "Save report...", "Close Mendrake", "Close"}));
  Button(dialog, QStringLiteral("Copy report"))->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), report);
  Button(dialog, QStringLiteral("Close Mendrake"))->click();
  EXPECT_EQ(dialog.result(), ErrorReportDialog::kCloseMendrake);

  // A report of an earlier run: this program is fine, so there is nothing to close.
  const ErrorReportDialog earlier(report, false, QStringLiteral("report.txt"));
  EXPECT_EQ(ButtonTexts(earlier), (QStringList{"Copy report", "Save report...", "Close"}));
}

class ErrorReportInWindow : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    qputenv("XDG_STATE_HOME", QFile::encodeName(PathIn(QStringLiteral("state"))));
    StartCrashReporting(*form_);
  }
  void TearDown() override {
    crash::Notes().WatchCurrentFilename(nullptr);
    qunsetenv("XDG_STATE_HOME");
    WindowTest::TearDown();
  }
};

TEST_F(ErrorReportInWindow, AnErrorThatIsNotAFileErrorIsReportedAndTheProgramGoesOn) {
  const QString source = WriteTestFile(QStringLiteral("IMG_0042.CRW"), MakeCameraFile());
  RepairThrough({source});
  const AnalysisState before = form_->State();
  const QStringList lines = LogLines();

  // The next "&Repair/Open" fails inside with an error no command expects.
  dialogs_.openAnswers.push_back({source});
  dialogs_.afterOpen = [] { throw std::logic_error("an invariant failed"); };
  QString title, summary, stack;
  QStringList buttons;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<ErrorReportDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    title = dialog->windowTitle();
    summary = qobject_cast<QPlainTextEdit*>(dialog->Tabs()->widget(0))->toPlainText();
    stack = qobject_cast<QPlainTextEdit*>(dialog->Tabs()->widget(1))->toPlainText();
    buttons = ButtonTexts(*dialog);
    Button(*dialog, QStringLiteral("Close"))->click();
  });
  PressAccessKey(form_.get(), Qt::Key_R);
  Settle();
  dialogs_.afterOpen = nullptr;

  EXPECT_EQ(title, QStringLiteral("Mendrake error report"));
  EXPECT_TRUE(summary.contains(QStringLiteral("std::logic_error"))) << summary.toStdString();
  EXPECT_TRUE(summary.contains(QStringLiteral("an invariant failed")));
  EXPECT_TRUE(summary.contains(QStringLiteral("Repair/Open (actRepair)")));
  EXPECT_TRUE(summary.contains(QStringLiteral("CurrentFilename:  ") + source));
  EXPECT_TRUE(summary.contains(lines.last()));
  EXPECT_TRUE(buttons.contains(QStringLiteral("Close Mendrake")));
  // The stack is the one where the error was thrown: in this test's own code.
  EXPECT_TRUE(stack.contains(QStringLiteral("from where the error was thrown"))) << stack.toStdString();
  EXPECT_TRUE(stack.contains(QStringLiteral("test_window_error_report.cpp:"))) << stack.toStdString();
  EXPECT_TRUE(dialogs_.errors.empty()) << "no file-error message box as well";

  // Nothing the window held was lost, the report was kept, and the window goes on.
  EXPECT_EQ(form_->State().FFilesize, before.FFilesize);
  EXPECT_EQ(form_->State().CurrentFilename, before.CurrentFilename);
  EXPECT_EQ(LogLines(), lines);
  EXPECT_EQ(QDir(PathIn(QStringLiteral("state/mendrake/crash-reports"))).entryList({"*.txt"}).size(), 1);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_TRUE(form_->actRepair->isEnabled());
  RepairThrough({source});
  EXPECT_EQ(form_->State().FFilesize, before.FFilesize);
}

TEST_F(ErrorReportInWindow, AReportLeftByACrashIsShownOnceAtTheNextStart) {
  const std::filesystem::path folder = crash::ReportFolder();
  crash::SaveReport(folder, RealReport().toStdString(), 1700000000, true);
  int shown = 0;
  QString title;
  for (int round = 0; round < 2; ++round) {
    QTimer::singleShot(0, [&] {
      if (auto* dialog = qobject_cast<ErrorReportDialog*>(QApplication::activeModalWidget())) {
        ++shown;
        title = dialog->windowTitle();
        dialog->reject();
      }
    });
    ShowUnshownReports(*form_);
    Settle();
  }
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(title, QStringLiteral("Mendrake error report"));
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
