#include "crash/CrashNotes.h"

#include <algorithm>
#include <cstring>

namespace mendrake::crash {
namespace {

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

}  // namespace

void CrashNotes::SetProgram(std::string_view name) { CopyField(data_.program, name); }
void CrashNotes::SetRuntime(std::string_view runtime) { CopyField(data_.runtime, runtime); }
void CrashNotes::SetCommand(std::string_view command) { CopyField(data_.command, command); }

void CrashNotes::AppendLogLine(std::string_view line) {
  CopyField(data_.log[data_.logNext], line);
  data_.logNext = (data_.logNext + 1) % NotesData::kLogLines;
  if (data_.logCount < NotesData::kLogLines) ++data_.logCount;
}

void CrashNotes::ClearLog() {
  data_.logCount = 0;
  data_.logNext = 0;
}

std::string CrashNotes::RecentLogLines() const { return LogLinesOf(data_); }

std::string LogLinesOf(const NotesData& data) {
  std::string lines;
  const std::uint32_t count = std::min<std::uint32_t>(data.logCount, NotesData::kLogLines);
  const std::uint32_t first = (data.logNext + NotesData::kLogLines - count) % NotesData::kLogLines;
  for (std::uint32_t i = 0; i < count; ++i) {
    const char* line = data.log[(first + i) % NotesData::kLogLines];
    lines.append(line, strnlen(line, NotesData::kLineBytes));
    lines += '\n';
  }
  return lines;
}

CrashNotes& Notes() {
  static CrashNotes notes;
  return notes;
}

}  // namespace mendrake::crash
