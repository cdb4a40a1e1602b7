#pragma once

#include "analysis/LogBox.h"

#include <QPlainTextEdit>
#include <QStringList>

namespace mendrake {

// The log box: the engine's report shown as editable text that wraps at the
// box's width, with both scroll bars.
class LogMemo : public QPlainTextEdit, public LogBox {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent = nullptr);

  void Clear() override;
  void Append(std::string_view line) override;

  // The lines as the engine appended them (and the user may have edited them).
  QStringList Lines() const;

 private:
  // An empty first line leaves the document empty; this tells it from no line.
  long linesSinceClear_ = 0;
};

}  // namespace mendrake
