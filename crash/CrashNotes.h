#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mendrake::crash {

// What a report tells of the work in progress, kept in fixed-size fields so
// that a signal handler can copy it without allocating or locking.
struct NotesData {
  static constexpr std::size_t kLogLines = 50;
  static constexpr std::size_t kLineBytes = 512;

  char program[32] = {};
  char runtime[64] = {};  // the user-interface library and its version, if any
  char command[128] = {};
  std::uint32_t logCount = 0;  // lines held, at most kLogLines
  std::uint32_t logNext = 0;   // where the next line goes in the ring
  char log[kLogLines][kLineBytes] = {};
};

// The program fills these in as it works; the crash handler and the error
// report read them. Written only from the thread that runs the commands.
class CrashNotes {
 public:
  void SetProgram(std::string_view name);
  void SetRuntime(std::string_view runtime);
  void SetCommand(std::string_view command);
  std::string Command() const { return data_.command; }

  void AppendLogLine(std::string_view line);
  void ClearLog();
  // The log lines held, oldest first.
  std::string RecentLogLines() const;

  // The file under analysis: read at the time of the report, not copied on
  // every change.
  void WatchCurrentFilename(const std::string* currentFilename) { currentFilename_ = currentFilename; }
  const std::string* CurrentFilename() const { return currentFilename_; }

  const NotesData& Data() const { return data_; }

 private:
  NotesData data_;
  const std::string* currentFilename_ = nullptr;
};

// The log lines of notes data, oldest first, one per line.
std::string LogLinesOf(const NotesData& data);

// The one set of notes of this process: the crash handler must reach it from
// a signal, where nothing can be passed in.
CrashNotes& Notes();

}  // namespace mendrake::crash
