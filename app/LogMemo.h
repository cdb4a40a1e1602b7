#pragma once

#include "analysis/LogBox.h"

#include <QPlainTextEdit>
#include <QStringList>

namespace mendrake {

// The log box: the engine's report shown as editable text that wraps at the
// box's width, with both scroll bars.
//
// Lines are shown in batches: each line laid out and scrolled to on its own
// would cost a long search with many lines seconds of lay-out, while a batch
// of thousands costs milliseconds. A batch goes in whenever the window next
// handles its events, which it does several times a second during a search.
class LogMemo : public QPlainTextEdit, public LogBox {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent = nullptr);

  void Clear() override;
  void Append(std::string_view line) override;

  // The lines as the engine appended them (and the user may have edited
  // them), the ones still waiting to be shown included.
  QStringList Lines() const;

  // Shows the lines still waiting.
  void ShowPendingLines();

 private:
  QStringList pending_;
  bool showScheduled_ = false;
  // An empty first line leaves the document empty; this tells it from no line.
  long linesShownSinceClear_ = 0;
};

}  // namespace mendrake
