#pragma once

#include <QString>

namespace mendrake {

class Dialogs;
class LogBox;

// The manual: the README as HTML, installed with the program. Found from the
// program's own folder (PREFIX/bin to PREFIX/share/mendrake), which holds in
// the build tree as once installed.
QString ManualPath();

// Opens the manual in the desktop's browser. When none can open it, or the
// manual is missing, says in the log where it is, so the user can open it.
void OpenManual(Dialogs& dialogs, LogBox& log);

}  // namespace mendrake
