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

  // The card image file or card device to recover from, or nothing when the
  // user cancelled. Not every host offers card recovery: none by default.
  virtual std::optional<QString> AskCardSource(QWidget* /*parent*/) { return std::nullopt; }
  // The folder the recovered files go to, or nothing when the user cancelled.
  virtual std::optional<QString> AskOutputFolder(QWidget* /*parent*/) { return std::nullopt; }

  // Tells the user why a command ended early.
  virtual void ShowError(QWidget* parent, const QString& title, const QString& text) = 0;
};

}  // namespace mendrake
