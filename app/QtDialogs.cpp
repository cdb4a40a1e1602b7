#include "app/QtDialogs.h"

#include "app/CardChooser.h"
#include "devices/AttachedCards.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QStandardPaths>
#include <QDesktopServices>
#include <QMessageBox>

namespace mendrake {
namespace {

// The dialogs belong to the window they were first shown for; a new window
// gets dialogs of its own.
void Adopt(QPointer<QFileDialog>& dialog, QWidget* parent) {
  if (dialog && dialog->parentWidget() == parent) return;
  delete dialog.data();
  dialog = new QFileDialog(parent);
}

// Which of the filters is selected; with their details hidden the dialog
// names the selected one by its description alone.
int FilterIndex(const QStringList& filters, const QString& selected) {
  for (qsizetype i = 0; i < filters.size(); ++i) {
    if (filters.at(i) == selected || filters.at(i).startsWith(selected + QStringLiteral(" ("))) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

QtDialogs::~QtDialogs() {
  delete openDialog_.data();
  delete saveDialog_.data();
}

QFileDialog& QtDialogs::OpenDialog(QWidget* parent) {
  Adopt(openDialog_, parent);
  return *openDialog_;
}

QFileDialog& QtDialogs::SaveDialog(QWidget* parent) {
  Adopt(saveDialog_, parent);
  return *saveDialog_;
}

int QtDialogs::RunModal(QFileDialog& dialog) {
  const int answer = dialog.exec();
  // A name typed and confirmed while the completion list was open can leave
  // that list on screen after the dialog closed.
  while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  return answer;
}

std::vector<QString> QtDialogs::AskOpenFileNames(QWidget* parent) {
  QFileDialog& dialog = OpenDialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (RunModal(dialog) != QDialog::Accepted) return {};
  lastOpenFolder_ = dialog.directory().absolutePath();
  const QStringList chosen = dialog.selectedFiles();
  return {chosen.begin(), chosen.end()};
}

std::optional<QString> QtDialogs::AskSaveFileName(QWidget* parent, const QString& defaultSuffix,
                                                  const QStringList& nameFilters) {
  QFileDialog& dialog = SaveDialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Outputs are replaced without asking: the repaired copy's name is derived
  // from the chosen one anyway, so a prompt would ask about the wrong file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  // The filters keep their Windows-style descriptions, which already name the pattern.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.setNameFilters(nameFilters);
  if (lastSaveFilterIndex_ >= 0 && lastSaveFilterIndex_ < nameFilters.size()) {
    dialog.selectNameFilter(nameFilters.at(lastSaveFilterIndex_));
  }
  // Setting the filters resets the name box: put back the last name chosen.
  // Before any, the dialog opens where the files were last chosen from, as
  // the desktop's own dialogs do, with an empty name box.
  if (!lastSavedName_.isEmpty()) {
    dialog.selectFile(lastSavedName_);
  } else if (!lastOpenFolder_.isEmpty()) {
    dialog.setDirectory(lastOpenFolder_);
  }

  const int answer = RunModal(dialog);
  lastSaveFilterIndex_ = FilterIndex(nameFilters, dialog.selectedNameFilter());
  if (answer != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
  lastSavedName_ = chosen.first();
  return lastSavedName_;
}

bool QtDialogs::OpenWebAddress(const QUrl& address) { return QDesktopServices::openUrl(address); }

void QtDialogs::ShowError(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::critical(parent, title, text);
}

std::optional<Dialogs::CardRecoveryChoice> QtDialogs::AskCardRecovery(QWidget* parent) {
  QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (pictures.isEmpty()) pictures = QDir::homePath();
  const CardChooser::CardSource cards{[](bool allDrives) { return ListAttachedCards(allDrives); },
                                      [] { return DeviceTreeState(); }};
  CardChooser chooser(*this, cards, pictures, QDate::currentDate().toString(Qt::ISODate), parent);
  if (chooser.exec() != QDialog::Accepted) return std::nullopt;
  return chooser.Choice();
}

// The dialog shows every file, since card images carry any extension or none.
std::optional<QString> QtDialogs::AskCardImageFile(QWidget* parent) {
  const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Recover from card: card image file"),
                                                    QString(), QStringLiteral("All files (*)"));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

// The folder proposed may not exist yet: the dialog opens at the nearest
// folder above it that does.
std::optional<QString> QtDialogs::AskOutputFolder(QWidget* parent, const QString& proposed) {
  QDir start(proposed.isEmpty() ? QDir::homePath() : proposed);
  while (!start.exists() && start.cdUp()) {
  }
  const QString path =
      QFileDialog::getExistingDirectory(parent, QStringLiteral("Recover from card: output folder"), start.path());
  if (path.isEmpty()) return std::nullopt;
  return path;
}

}  // namespace mendrake
