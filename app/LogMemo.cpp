#include "app/LogMemo.h"

#include "crash/CrashNotes.h"

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
  crash::Notes().ClearLog();
  pending_.clear();
  clear();
  linesShownSinceClear_ = 0;
}

void LogMemo::Append(std::string_view line) {
  crash::Notes().AppendLogLine(line);
  pending_ << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  if (!showScheduled_) {
    showScheduled_ = true;
    QMetaObject::invokeMethod(this, &LogMemo::ShowPendingLines, Qt::QueuedConnection);
  }
}

void LogMemo::ShowPendingLines() {
  showScheduled_ = false;
  if (pending_.isEmpty()) return;
  QScrollBar* scroll = verticalScrollBar();
  const bool followEnd = scroll->value() == scroll->maximum();
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  if (linesShownSinceClear_ > 0 || !document()->isEmpty()) end.insertBlock();
  // One insertion lays the batch out once; each '\n' starts a new line.
  end.insertText(pending_.join(QLatin1Char('\n')));
  linesShownSinceClear_ += pending_.size();
  pending_.clear();
  if (followEnd) scroll->setValue(scroll->maximum());
}

QStringList LogMemo::Lines() const {
  QStringList lines;
  if (!document()->isEmpty() || linesShownSinceClear_ > 0) {
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) lines << block.text();
  }
  return lines + pending_;
}

}  // namespace mendrake
