#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mendrake {

// The report the user reads: an ordered list of UTF-8 lines. The window shows
// it; tools print it; tests collect it.
class LogBox {
 public:
  virtual ~LogBox() = default;
  virtual void Clear() = 0;
  virtual void Append(std::string_view line) = 0;
};

// Keeps the lines in memory.
class LogLines : public LogBox {
 public:
  void Clear() override { lines_.clear(); }
  void Append(std::string_view line) override { lines_.emplace_back(line); }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Lets through at most a given number of lines and then one line saying that
// the rest were left out. The heap walks of one file report through it, so a
// crafted file cannot fill the log with millions of lines.
class CappedLog {
 public:
  static constexpr const char* kOmittedLine = "Further lines of this file are omitted.";

  CappedLog(LogBox& log, long capacity) : log_(log), remaining_(capacity) {}

  // False once the cap was reached: callers may skip building the line.
  bool Accepting() const { return remaining_ > 0; }
  void Append(std::string_view line);

 private:
  LogBox& log_;
  long remaining_;
  bool omissionReported_ = false;
};

}  // namespace mendrake
