#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

class QWidget;

namespace mendrake {

// Everything the window asks of the user or of the desktop outside it. The
// window talks only to this interface, so tests answer in place of the user.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Full paths of the existing files the user chose, in the order the dialog
  // gives them; empty when the user cancelled.
  virtual std::vector<QString> AskOpenFileNames(QWidget* parent) = 0;

  // One path, or nothing when the user cancelled. defaultSuffix has no dot
  // ("crw"); nameFilters are in Qt's "Description (pattern)" form.
  virtual std::optional<QString> AskSaveFileName(QWidget* parent, const QString& defaultSuffix,
                                                 const QStringList& nameFilters) = 0;

  // Hands an address (a web page or a local file) to the desktop's default
  // browser; false when none could be started for it.
  virtual bool OpenWebAddress(const QUrl& address) = 0;

  // What "Recover from card" reads and where the files found go.
  struct CardRecoveryChoice {
    QString source;        // a card's device or a card image file
    QString outputFolder;  // made when missing
    bool all = false;      // the files the card's FAT still lists are recovered too
    bool saveImage = false;  // every byte read is kept in an image of the card, in the output folder
  };
  // The card chooser: the attached cards, or an image file, and the output
  // folder; nothing when the user cancelled. Not every host offers card
  // recovery: none by default.
  virtual std::optional<CardRecoveryChoice> AskCardRecovery(QWidget* /*parent*/) { return std::nullopt; }
  // The chooser's "Card image file...": an image file of a card, or nothing
  // when the user cancelled.
  virtual std::optional<QString> AskCardImageFile(QWidget* /*parent*/) { return std::nullopt; }
  // The chooser's "Change...": the folder the recovered files go to, starting
  // at the one proposed, or nothing when the user cancelled.
  virtual std::optional<QString> AskOutputFolder(QWidget* /*parent*/, const QString& /*proposed*/) {
    return std::nullopt;
  }

  // Tells the user why a command ended early.
  virtual void ShowError(QWidget* parent, const QString& title, const QString& text) = 0;
};

}  // namespace mendrake
