#pragma once

#include <QString>

namespace mendrake {

class TForm1;

// Error reports for the window program: catches fatal signals (the report is
// written by the helper program while the window waits, and shown at the
// next start), gives the reports the window's log lines and file name, and
// shows the reports of an earlier run that the user has not seen yet.
void StartCrashReporting(TForm1& form);

// Shows each report not yet shown, once, over the window.
void ShowUnshownReports(TForm1& form);

}  // namespace mendrake
