#pragma once

#include "app/Dialogs.h"
#include "app/vazidi.h"
#include "tests/support/CrwBuilder.h"

#include <QColor>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QToolBar;

namespace mendrake::testing {

// Answers the window's dialogs as a user would, from a script, and records
// what the window asked.
class ScriptedDialogs : public Dialogs {
 public:
  struct SaveRequest {
    QString defaultSuffix;
    QStringList nameFilters;
  };

  // Answers of the open dialog, in order; an empty list is a cancel.
  std::deque<std::vector<QString>> openAnswers;
  // Answers of the save dialog, in order; an empty name is a cancel.
  std::deque<QString> saveAnswers;
  // Runs once the open dialog has answered, before the command goes on:
  // what the user does next (timers that click during the run).
  std::function<void()> afterOpen;

  // Answers of "Recover from card": the card and the output folder (the
  // chooser's choice when both are set), and of the chooser's "Card image
  // file..." and "Change...".
  std::optional<QString> cardAnswer;
  std::optional<QString> folderAnswer;
  bool allAnswer = false;  // "Also recover the photos the card still lists"
  bool saveImageAnswer = false;  // "Also save an image of the card"
  std::optional<QString> imageFileAnswer;
  std::vector<QString> folderProposals;  // what "Change..." was asked to start at

  int openRequests = 0;
  std::vector<SaveRequest> saveRequests;
  std::vector<QUrl> openedAddresses;
  // Whether the desktop has a browser that opens the addresses.
  bool browserOpens = true;
  std::vector<QString> errors;

  std::vector<QString> AskOpenFileNames(QWidget* parent) override;
  std::optional<QString> AskSaveFileName(QWidget* parent, const QString& defaultSuffix,
                                         const QStringList& nameFilters) override;
  std::optional<CardRecoveryChoice> AskCardRecovery(QWidget*) override {
    if (!cardAnswer || !folderAnswer) return std::nullopt;
    return CardRecoveryChoice{*cardAnswer, *folderAnswer, allAnswer, saveImageAnswer};
  }
  std::optional<QString> AskCardImageFile(QWidget*) override { return imageFileAnswer; }
  std::optional<QString> AskOutputFolder(QWidget*, const QString& proposed) override {
    folderProposals.push_back(proposed);
    return folderAnswer;
  }
  bool OpenWebAddress(const QUrl& address) override;
  void ShowError(QWidget* parent, const QString& title, const QString& text) override;
};

// A shown, active main window over scripted dialogs, and a folder for files.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes bytes to a file in the test's folder; returns its full path.
  QString WriteTestFile(const QString& name, const Bytes& bytes);
  QString PathIn(const QString& name) const;
  // Chooses the paths in the open dialog and runs "&Repair/Open".
  void RepairThrough(const std::vector<QString>& paths);
  QStringList LogLines() const;
  // Sends Alt+letter (Shift too when asked) to a widget, as typed there.
  static void PressAccessKey(QWidget* target, Qt::Key letter, bool shift = false);
  // Lets the window handle what is pending (layout, paint, deferred closes).
  static void Settle();
  // Does what the user does during the size search of path: at the first look
  // at the clock once that search has begun, the action is posted as the
  // user's input would be and the window processes its events then. The test
  // decides the moment; no timer races the search. actedDuringRun_ tells
  // whether the action ran while the run was still in progress.
  void DuringTheSearchOf(const QString& path, std::function<void()> action);

  // Junk behind a file long enough that its search looks at the clock several
  // times: a size search notes one unit of work per candidate.
  static const std::size_t kJunkOfSeveralClockChecks;

  ScriptedDialogs dialogs_;
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<QTemporaryDir> folder_;
  bool actedDuringRun_ = false;
};

// Drags the toolbar by its handle to a point on the screen, as the mouse would.
void DragToolbar(QToolBar* toolbar, QPoint screenTarget);

// A JPEG picture of one colour with a white square in its middle.
Bytes MakeJpeg(int width, int height, QColor colour);

// A camera-shaped file with every required record but no thumbnail record.
Bytes MakeFileWithoutThumbnail();

// A camera-shaped file whose thumbnail is a real JPEG picture.
Bytes MakeFileWithJpeg(int width, int height, QColor colour, std::size_t junk = 0);

}  // namespace mendrake::testing
