#include "app/CrashReporting.h"

#include "app/ErrorReportDialog.h"
#include "app/vazidi.h"
#include "crash/CrashHandler.h"
#include "crash/ReportStore.h"

#include <QFile>
#include <QTimer>

namespace mendrake {

void StartCrashReporting(TForm1& form) {
  crash::InstallCrashHandler({.program = "mendrake", .showAtNextStart = true}, &form.State().CurrentFilename);
  crash::Notes().SetRuntime(std::string("Qt ") + qVersion());
  QTimer::singleShot(0, &form, [&form] { ShowUnshownReports(form); });
}

void ShowUnshownReports(TForm1& form) {
  for (const std::filesystem::path& path : crash::UnshownReports(crash::ReportFolder())) {
    // Taken off the list first: a report is shown once, even if this run ends badly too.
    crash::MarkShown(path);
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) continue;
    ErrorReportDialog dialog(QString::fromUtf8(file.readAll()), false,
                             QString::fromStdString(path.filename().string()), &form);
    dialog.exec();
  }
}

}  // namespace mendrake
