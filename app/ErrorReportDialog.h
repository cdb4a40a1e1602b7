#pragma once

#include <QDialog>
#include <QString>

class QTabWidget;

namespace mendrake {

// Shows an error report in its five sections, one tab each, and lets the
// user copy or save it whole to send it on.
class ErrorReportDialog : public QDialog {
  Q_OBJECT

 public:
  // The result of exec() when the user chose to end the program.
  static constexpr int kCloseMendrake = 2;

  // canGoOn: the program still runs normally, so "Close Mendrake" is offered.
  // suggestedName: the file name offered by "Save report...".
  ErrorReportDialog(const QString& report, bool canGoOn, const QString& suggestedName, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }

 private:
  void CopyReport();
  void SaveReport();

  QString report_;
  QString suggestedName_;
  QTabWidget* tabs_ = nullptr;
};

}  // namespace mendrake
