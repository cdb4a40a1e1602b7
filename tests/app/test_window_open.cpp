// Opening files without the open dialog: the command line, files dropped on
// the window, and the desktop files that offer the program for CRW files.
#include "app/CommandLine.h"
#include "app/LogMemo.h"
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace mendrake::testing {
namespace {

using window::CommandLine;

struct CommandLineCase {
  std::vector<const char*> arguments;
  CommandLine::Action action;
  std::vector<std::string> files;  // relative to the working folder "/work/photos"
};

TEST(CommandLineArguments, EachCommandLineMeansWhatItSays) {
  const std::filesystem::path here = "/work/photos";
  const std::vector<CommandLineCase> cases = {
      {{}, CommandLine::Action::kOpen, {}},
      {{"--help"}, CommandLine::Action::kHelp, {}},
      {{"a.crw", "-h", "--unknown"}, CommandLine::Action::kHelp, {}},
      {{"--version", "a.crw"}, CommandLine::Action::kVersion, {}},
      {{"b.crw", "a.crw", "/cards/c.CRW"}, CommandLine::Action::kOpen, {"b.crw", "a.crw", "/cards/c.CRW"}},
      {{"old/../a.crw", "./b.crw"}, CommandLine::Action::kOpen, {"a.crw", "b.crw"}},
      {{"-platform", "offscreen", "--style=fusion", "-reverse", "a.crw"}, CommandLine::Action::kOpen, {"a.crw"}},
      {{"--", "--help", "-"}, CommandLine::Action::kOpen, {"--help", "-"}},
  };
  for (const CommandLineCase& c : cases) {
    const CommandLine line = window::ParseCommandLine(c.arguments, here);
    std::vector<std::string> expected;
    for (const std::string& file : c.files) expected.push_back((here / file).lexically_normal().string());
    EXPECT_EQ(line.action, c.action) << c.arguments.size() << " arguments";
    EXPECT_EQ(line.files, expected);
  }
  for (const std::vector<const char*>& wrong : {std::vector<const char*>{"--unknown"}, {"a.crw", "-x"}}) {
    try {
      window::ParseCommandLine(wrong, here);
      ADD_FAILURE() << wrong.back() << " was taken";
    } catch (const window::UsageError& error) {
      EXPECT_NE(error.message.find(wrong.back()), std::string::npos) << error.message;
    }
  }
}

TEST(CommandLineArguments, AFolderStandsForTheCrwFilesDirectlyInsideItSortedByName) {
  QTemporaryDir temporary;
  const std::filesystem::path folder = temporary.path().toStdString();
  for (const char* name : {"b.CRW", "c.Crw", "a.crw", "notes.txt", "crw"}) std::ofstream(folder / name) << "x";
  std::filesystem::create_directories(folder / "d.crw");
  std::filesystem::create_directories(folder / "inner");
  std::ofstream(folder / "inner" / "e.crw") << "x";

  const std::string empty = (folder / "inner" / "d.crw").string();
  std::filesystem::create_directories(empty);
  const std::vector<std::string> files = window::ExpandPaths({"missing.crw", folder.string(), "", empty}, "/work");
  const std::vector<std::string> expected = {"/work/missing.crw", (folder / "a.crw").string(),
                                             (folder / "b.CRW").string(), (folder / "c.Crw").string(), "", empty};
  EXPECT_EQ(files, expected);
}

// The program answers --help, --version and a wrong option before it needs a
// display: here it has none, and the X11 platform would end it without one.
TEST(CommandLineArguments, HelpVersionAndUsageErrorsNeedNoDisplay) {
  struct Case {
    QString argument;
    int status;
    QString standardOutput, standardError;
  };
  const std::vector<Case> cases = {
      {QStringLiteral("--help"), 0, QStringLiteral("Usage: mendrake [OPTION]..."), QString()},
      {QStringLiteral("--version"), 0, QStringLiteral("mendrake (Mendrake) "), QString()},
      {QStringLiteral("--colour"), 2, QString(), QStringLiteral("mendrake: unknown option \"--colour\"")},
  };
  for (const Case& c : cases) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MENDRAKE_BIN_DIR "/mendrake"), {c.argument});
    ASSERT_TRUE(program.waitForFinished(30000));
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), c.status) << err.toStdString();
    EXPECT_TRUE(c.standardOutput.isEmpty() ? out.isEmpty() : out.startsWith(c.standardOutput)) << out.toStdString();
    if (!c.standardError.isEmpty()) {
      EXPECT_TRUE(err.startsWith(c.standardError) && err.count(QLatin1Char('\n')) == 1) << err.toStdString();
    }
  }
}

class FileDropOnWindow : public WindowTest {
 protected:
  // A drag of the URLs entering the widget and, if taken, dropped there; whether it was taken.
  static bool DragAndDrop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint middle = target->rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction) << "a dropped file is never moved";
    QDropEvent drop(middle, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
  }

  QStringList RepairedFiles() const { return LogLines().filter(QStringLiteral("Repairing file ")); }
};

TEST_F(FileDropOnWindow, DroppedFilesAndFoldersRunRepairOpenAsIfChosenInTheOpenDialog) {
  const QString first = WriteTestFile(QStringLiteral("first.crw"), MakeFileWithJpeg(32, 24, Qt::red));
  QDir(folder_->path()).mkdir(QStringLiteral("card"));
  const QString inside = WriteTestFile(QStringLiteral("card/inside.CRW"), MakeFileWithJpeg(32, 24, Qt::blue));
  const QList<QUrl> urls = {QUrl::fromLocalFile(first), QUrl(QStringLiteral("https://example.org/x.crw")),
                            QUrl::fromLocalFile(PathIn(QStringLiteral("card")))};

  ASSERT_TRUE(DragAndDrop(form_->Image1, urls));
  // The run starts once the drop is over, as the window's next events are handled.
  Settle();
  ASSERT_TRUE(LogLines().contains(QStringLiteral("Successfully repaired file.")));
  ASSERT_FALSE(form_->RunInProgress());
  EXPECT_EQ(RepairedFiles(), QStringList({QStringLiteral("Repairing file ") + first, QStringLiteral("Repairing file ") + inside}));
  EXPECT_EQ(dialogs_.openRequests, 0);
  // Two files: both written next to their sources, as with the open dialog.
  EXPECT_EQ(QDir(folder_->path()).entryList({QStringLiteral("first.crw_repaired.*")}).size(), 1);

  // Remote files are not taken, not even as text by the log box.
  EXPECT_FALSE(DragAndDrop(form_->Memo1->viewport(), {QUrl(QStringLiteral("https://example.org/y.crw"))}));
}

TEST_F(FileDropOnWindow, ADropDuringARunIsRefusedAndChangesNothing) {
  const QString running = WriteTestFile(QStringLiteral("long.crw"), MakeFileWithJpeg(32, 24, Qt::red, kJunkOfSeveralClockChecks));
  const QString dropped = WriteTestFile(QStringLiteral("dropped.crw"), MakeFileWithJpeg(32, 24, Qt::blue));
  bool taken = true;
  DuringTheSearchOf(running, [&] {
    taken = DragAndDrop(form_.get(), {QUrl::fromLocalFile(dropped)}) ||
            DragAndDrop(form_->Memo1->viewport(), {QUrl::fromLocalFile(dropped)});
  });
  RepairThrough({running});
  ASSERT_TRUE(actedDuringRun_) << "the window did not handle events during the search";
  EXPECT_FALSE(taken);
  Settle();
  EXPECT_EQ(RepairedFiles(), QStringList({QStringLiteral("Repairing file ") + running}));

  // Once the run is over, the same drop is taken.
  EXPECT_TRUE(DragAndDrop(form_->Memo1->viewport(), {QUrl::fromLocalFile(dropped)}));
  Settle();
  ASSERT_EQ(RepairedFiles().size(), 1);
  EXPECT_TRUE(RepairedFiles().first().endsWith(QStringLiteral("dropped.crw")));
}

// The launcher and the metainfo as the desktop's own tools read them.
TEST(PackagingFiles, PassTheDesktopValidators) {
  const QString folder = QStringLiteral(MENDRAKE_PACKAGING_DIR);
  const QString id = QStringLiteral(MENDRAKE_APP_ID);
  const std::vector<QStringList> checks = {
      {QStringLiteral("desktop-file-validate"), folder + QLatin1Char('/') + id + QStringLiteral(".desktop")},
      {QStringLiteral("appstreamcli"), QStringLiteral("validate"), QStringLiteral("--no-net"),
       folder + QLatin1Char('/') + id + QStringLiteral(".metainfo.xml")},
  };
  int run = 0;
  for (const QStringList& check : checks) {
    const QString tool = QStandardPaths::findExecutable(check.first());
    if (tool.isEmpty()) continue;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, check.mid(1));
    ASSERT_TRUE(process.waitForFinished(60000)) << check.first().toStdString();
    EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    ++run;
  }
  if (run == 0) GTEST_SKIP() << "neither desktop-file-validate nor appstreamcli is installed";
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
