// The size search through the window's platform, which reads a clock every few
// thousand units of work and processes pending events every 16 ms: compare
// with bench_size_search's headless figures for the cost of staying responsive.
#include "app/Dialogs.h"
#include "app/PictureView.h"
#include "app/QtPlatform.h"
#include "bench/SearchBench.h"

#include <QApplication>
#include <QWidget>

namespace mendrake::bench {
namespace {

// A search asks nothing of the user.
class NoDialogs : public Dialogs {
 public:
  std::vector<QString> AskOpenFileNames(QWidget*) override { return {}; }
  std::optional<QString> AskSaveFileName(QWidget*, const QString&, const QStringList&) override { return {}; }
  bool OpenWebAddress(const QUrl&) override { return false; }
  void ShowError(QWidget*, const QString&, const QString&) override {}
};

void SizeSearchQt(benchmark::State& run, JunkKind junk) {
  QWidget window;
  PictureView view(&window);
  NoDialogs dialogs;
  window.resize(732, 632);
  window.show();
  QtPlatform platform(window, dialogs, view);
  SizeSearch(run, junk, platform);
  run.counters["event rounds"] = benchmark::Counter(static_cast<double>(platform.EventRounds()),
                                                   benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(SizeSearchQt, random_junk, JunkKind::kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SizeSearchQt, zero_junk, JunkKind::kZeros)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mendrake::bench

int main(int argc, char** argv) {
  // Offscreen unless a display was chosen: the benchmark needs no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
