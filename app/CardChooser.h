#pragma once

#include "app/Dialogs.h"
#include "devices/AttachedCards.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace mendrake {

// "Recover from card": the cards attached, each with its partitions, to pick
// one from (or a card image file), and the folder the photos go to. The list
// is read again every second while the dialog is open, so a card put in or
// taken out shows at once; fixed disks are listed when "Show all drives" is
// ticked. The folder proposed is a new one in the pictures folder named after
// the card and the day; a folder on the card being read is refused here
// already.
class CardChooser : public QDialog {
  Q_OBJECT

 public:
  // Where the cards come from: the list itself, and a cheap state that
  // changes whenever the list may have (DeviceTreeState).
  struct CardSource {
    std::function<std::vector<AttachedCard>(bool allDrives)> list;
    std::function<std::string()> state;
  };
  // How often the list is read again.
  static constexpr int kRefreshIntervalMs = 1000;

  // today is "YYYY-MM-DD"; dialogs answers "Card image file..." and "Change...".
  CardChooser(Dialogs& dialogs, CardSource cards, const QString& picturesFolder, const QString& today,
              QWidget* parent = nullptr);

  // The card (or image) chosen and the folder; nothing until both are there
  // and the folder is not on the card.
  std::optional<Dialogs::CardRecoveryChoice> Choice() const;

  // Reads the list again where the devices changed (the timer's work; tests
  // call it themselves).
  void Refresh();

  QTreeWidget* CardList = nullptr;
  QLabel* EmptyNote = nullptr;
  QCheckBox* ShowAllDrives = nullptr;
  QPushButton* ImageFileButton = nullptr;
  QLineEdit* OutputFolder = nullptr;
  QPushButton* ChangeFolderButton = nullptr;
  QLabel* FolderWarning = nullptr;
  QCheckBox* RecoverListed = nullptr;
  QCheckBox* SaveImage = nullptr;
  QPushButton* RecoverButton = nullptr;
  QTimer* RefreshTimer = nullptr;

 private:
  void Rebuild(const std::vector<AttachedCard>& cards);
  void SelectPath(const QString& path);
  void ChooseImageFile();
  void ChangeFolder();
  void SelectionChanged();
  void UpdateState();
  QString SelectedSource() const;

  Dialogs& dialogs_;
  CardSource cards_;
  std::string listedState_;
  bool listedAllDrives_ = false;
  QString picturesFolder_;
  QString today_;
  std::vector<AttachedCard> shown_;
  QString imageFile_;          // chosen with "Card image file...", listed first
  bool folderChosen_ = false;  // the user set the folder: a new selection keeps it
};

}  // namespace mendrake
