#pragma once

#include "analysis/AnalysisState.h"
#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"
#include "analysis/RepairContext.h"
#include "analysis/SizeSearch.h"

#include <string>
#include <vector>

namespace mendrake::testing {

// What the window holds for analyses (state, log, platform) and the run's file
// image, so that a test repairs files as "&Repair/Open" would.
class Analysis {
 public:
  Analysis() : platform_(&headless_) {}
  explicit Analysis(Platform& platform) : platform_(&platform) {}

  RepairContext Context() { return RepairContext{state, log, *platform_}; }
  bool Repair(const std::string& path) {
    RepairContext context = Context();
    return RepairFile(context, image, path);
  }
  const std::vector<std::string>& Lines() const { return log.Lines(); }

  AnalysisState state;
  LogLines log;
  FileImage image;

 private:
  HeadlessPlatform headless_;
  Platform* platform_;
};

// Lines joined with newlines, each ended by one, so that expected logs read as
// text and a mismatch shows as a diff.
inline std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace mendrake::testing
