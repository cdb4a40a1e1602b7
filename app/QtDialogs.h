#pragma once

#include "app/Dialogs.h"

#include <QFileDialog>
#include <QPointer>

namespace mendrake {

// The desktop's own dialogs. One open dialog and one save dialog live as long
// as this object, so each starts where its last use ended: the save dialog
// keeps the last name chosen (for both kinds of save) and the file type picked.
class QtDialogs : public Dialogs {
 public:
  QtDialogs() = default;
  QtDialogs(const QtDialogs&) = delete;
  QtDialogs& operator=(const QtDialogs&) = delete;
  ~QtDialogs() override;

  std::vector<QString> AskOpenFileNames(QWidget* parent) override;
  std::optional<QString> AskSaveFileName(QWidget* parent, const QString& defaultSuffix,
                                         const QStringList& nameFilters) override;
  std::optional<CardRecoveryChoice> AskCardRecovery(QWidget* parent) override;
  std::optional<QString> AskCardImageFile(QWidget* parent) override;
  std::optional<QString> AskOutputFolder(QWidget* parent, const QString& proposed) override;
  bool OpenWebAddress(const QUrl& address) override;
  void ShowError(QWidget* parent, const QString& title, const QString& text) override;

  QFileDialog* OpenDialog1() const { return openDialog_; }
  QFileDialog* SaveDialog1() const { return saveDialog_; }

 protected:
  // Shows a prepared dialog and waits for the user's answer.
  virtual int RunModal(QFileDialog& dialog);

 private:
  QFileDialog& OpenDialog(QWidget* parent);
  QFileDialog& SaveDialog(QWidget* parent);

  QPointer<QFileDialog> openDialog_;
  QPointer<QFileDialog> saveDialog_;
  QString lastSavedName_;
  QString lastOpenFolder_;
  int lastSaveFilterIndex_ = 0;
};

}  // namespace mendrake
