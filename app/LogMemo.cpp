#include "app/LogMemo.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace mendrake {

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setReadOnly(false);
  // The engine's lines are a report, not edits the user could undo one by one.
  setUndoRedoEnabled(false);
}

void LogMemo::Clear() {
  clear();
  linesSinceClear_ = 0;
}

void LogMemo::Append(std::string_view line) {
  QScrollBar* scroll = verticalScrollBar();
  const bool followEnd = scroll->value() == scroll->maximum();
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.beginEditBlock();
  if (linesSinceClear_ > 0 || !document()->isEmpty()) end.insertBlock();
  end.insertText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  end.endEditBlock();
  ++linesSinceClear_;
  if (followEnd) scroll->setValue(scroll->maximum());
}

QStringList LogMemo::Lines() const {
  QStringList lines;
  for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) lines << block.text();
  // An empty box is one empty block, not one empty line.
  if (document()->isEmpty() && linesSinceClear_ == 0) lines.clear();
  return lines;
}

}  // namespace mendrake
