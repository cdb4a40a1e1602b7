// window_timing: measures the window on the platform it is started on (an X
// server for the figures that count). Not a test: scripts/measure-window.sh
// runs it beside crwlog and reports medians.
//
//   window_timing search FILE   time of "&Repair/Open" on FILE in the window
//   window_timing append N      time to append N lines to the log box
//   window_timing bare          an empty main window with Mendrake's caption:
//                               what the toolkit's own start-up costs
//   window_timing makefile PATH MIB   writes a camera-shaped file with a JPEG
//                               thumbnail and MIB mebibytes of random junk
#include "app/LogMemo.h"
#include "app/MendrakeApplication.h"
#include "app/PictureView.h"
#include "app/QtPlatform.h"
#include "tests/app/WindowFixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using mendrake::TForm1;
using mendrake::testing::ScriptedDialogs;

int TimeSearch(const QString& path) {
  ScriptedDialogs dialogs;
  TForm1 form(dialogs);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  // Paints seen while the search runs: the window keeps repainting. With
  // MENDRAKE_TIMING_REPAINT set, the log box is also made to repaint at every
  // chance, as when the user drags another window over it.
  struct PaintCounter : QObject {
    long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  form.Memo1->viewport()->installEventFilter(&counter);
  form.Image1->installEventFilter(&counter);
  QTimer repaint;
  QObject::connect(&repaint, &QTimer::timeout, &form, [&] { form.Memo1->viewport()->update(); });
  if (qEnvironmentVariableIsSet("MENDRAKE_TIMING_REPAINT")) repaint.start(0);
  dialogs.openAnswers.push_back({path});
  QElapsedTimer clock;
  clock.start();
  form.actRepair->trigger();
  const qint64 elapsed = clock.elapsed();
  repaint.stop();
  std::printf("search_ms %lld event_rounds %ld paints_during_run %ld found %s\n",
              static_cast<long long>(elapsed), form.Platform().EventRounds(), counter.paints,
              form.Memo1->Lines().contains(QStringLiteral("Successfully repaired file.")) ? "yes" : "no");
  return 0;
}

int TimeAppend(long count) {
  ScriptedDialogs dialogs;
  TForm1 form(dialogs);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  QElapsedTimer clock;
  clock.start();
  qint64 longestAppendNs = 0;
  qint64 longestGapMs = 0;
  qint64 lastEvents = 0;
  QElapsedTimer one;
  for (long i = 0; i < count; ++i) {
    const std::string line = "CCD data found " + std::to_string(i) + " with a line long enough to wrap now and then";
    one.start();
    form.Memo1->Append(line);
    longestAppendNs = std::max(longestAppendNs, one.nsecsElapsed());
    // As the engine does: events are handled when their time has come.
    const long before = form.Platform().EventRounds();
    form.Platform().ProcessEventsIfDue();
    if (form.Platform().EventRounds() != before) {
      longestGapMs = std::max(longestGapMs, clock.elapsed() - lastEvents);
      lastEvents = clock.elapsed();
    }
  }
  const qint64 appendMs = clock.elapsed();
  QCoreApplication::processEvents();
  const qint64 withPaintMs = clock.elapsed();
  std::printf("append_lines %ld append_ms %lld longest_append_us %lld longest_gap_between_event_rounds_ms %lld "
              "then_first_repaint_done_ms %lld lines_in_box %lld\n",
              count, static_cast<long long>(appendMs), static_cast<long long>(longestAppendNs / 1000),
              static_cast<long long>(longestGapMs), static_cast<long long>(withPaintMs),
              static_cast<long long>(form.Memo1->Lines().size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "makefile") {
    const std::size_t junk = static_cast<std::size_t>(std::atol(argv[3])) << 20;
    mendrake::testing::WriteFile(argv[2], mendrake::testing::MakeFileWithJpeg(640, 480, Qt::darkCyan, junk));
    return 0;
  }
  mendrake::MendrakeApplication application(argc, argv);
  if (argc == 2 && std::string(argv[1]) == "bare") {
    QMainWindow bare;
    bare.setWindowTitle(QString::fromLatin1(TForm1::kCaption));
    bare.resize(732, 632);
    bare.show();
    return application.exec();
  }
  if (argc == 3 && std::string(argv[1]) == "search") return TimeSearch(QString::fromLocal8Bit(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "append") return TimeAppend(std::atol(argv[2]));
  std::fputs("usage: window_timing search FILE | append N | bare | makefile PATH MIB\n", stderr);
  return 2;
}
