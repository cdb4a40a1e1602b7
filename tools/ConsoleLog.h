#pragma once

#include "analysis/LogBox.h"

#include <string>
#include <string_view>

namespace mendrake::crwlog {

// The log box of a run without a window: each line goes to standard output
// as it is appended, and to the error report's notes, so that the report of a
// crash during the run shows its last lines. A card scan flushes every line:
// its progress is rewritten on standard error meanwhile.
class ConsoleLog final : public LogBox {
 public:
  explicit ConsoleLog(bool flushEachLine = false) : flushEachLine_(flushEachLine) {}
  void Clear() override {}
  void Append(std::string_view line) override;

 private:
  bool flushEachLine_;
};

// Says "crwlog: " and the message on standard error, after whatever standard
// output still holds; returns status, the exit status to end with.
int Fail(const std::string& message, int status);

}  // namespace mendrake::crwlog
