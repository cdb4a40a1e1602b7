#pragma once

#include "analysis/AnalysisState.h"
#include "analysis/RepairContext.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QSplitter;
class QToolBar;
class QToolButton;

namespace mendrake {

class Dialogs;
class LogMemo;
class PictureView;
class QtPlatform;

// The main window: owns the analysis state for the program's life, shows the
// log and the thumbnail, and offers the commands on its toolbar.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "Mendrake (Repair, View and Extract) v1.2";

  explicit TForm1(Dialogs& dialogs, QWidget* parent = nullptr);
  ~TForm1() override;

  AnalysisState& State() { return state_; }
  QtPlatform& Platform() { return *platform_; }
  bool RunInProgress() const { return runInProgress_; }

  // The window's parts. The toolbar sits in the top dock area (the form's TBDock1).
  QToolBar* TBToolbar1 = nullptr;
  LogMemo* Memo1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QFrame* Panel1 = nullptr;
  PictureView* Image1 = nullptr;
  QToolButton* WebsiteButton = nullptr;

  // The commands (the form's ActionList1), and the Website button's item.
  QAction* actRepair = nullptr;
  QAction* actRecover = nullptr;
  QAction* actSave = nullptr;
  QAction* actSaveJPEG = nullptr;
  QAction* actCancel = nullptr;
  QAction* FileExit1 = nullptr;
  QAction* actHelp = nullptr;
  QAction* TBItem7 = nullptr;

  void actRepairExecute();
  void actRecoverExecute();
  void actSaveExecute();
  void actSaveJPEGExecute();
  void actCancelExecute();
  void actHelpExecute();
  void TBItem7Click();

  // Runs "&Repair/Open" on the paths as if they had been chosen in the open
  // dialog (the command line and dropped files come this way). Does nothing
  // during a run or for no path; returns whether a run took place.
  bool OpenFiles(const std::vector<std::string>& paths);

  // No context menu over the toolbar: it would offer to hide the commands.
  QMenu* createPopupMenu() override { return nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateToolbar();
  void CreateClientArea();
  void FormCreate();

  void RunRepair(const std::vector<std::string>& paths);
  // Runs a command; an error that ends it is shown to the user, and the
  // analysis state and the log keep what they held.
  template <typename Command>
  void RunCommand(Command&& command);

  Dialogs& dialogs_;
  AnalysisState state_;
  std::unique_ptr<QtPlatform> platform_;
  std::unique_ptr<RepairContext> context_;
  bool runInProgress_ = false;
  bool closeWhenRunEnds_ = false;
};

}  // namespace mendrake
