#pragma once

#include "analysis/AnalysisState.h"
#include "analysis/LogBox.h"
#include "analysis/Platform.h"

namespace mendrake {

// What every step of an analysis works with: the state it reads and leaves,
// the log it reports in and the platform it asks of the window. Owned by the
// window (or a tool, or a test) and passed by reference.
struct RepairContext {
  AnalysisState& state;
  LogBox& log;
  Platform& platform;
};

}  // namespace mendrake
