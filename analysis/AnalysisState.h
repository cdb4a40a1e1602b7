#pragma once

#include "files/FileIdentity.h"

#include <cstdint>
#include <string>

namespace mendrake {

// What is known about the file under analysis. One record lives as long as the
// window (or the tool) that runs analyses; every step reads or writes it.
struct AnalysisState {
  bool Aborted = false;
  std::int64_t FFilesize = 0;
  bool BigEndian = false;
  std::uint32_t HLen = 0;
  bool FoundName = false;
  bool FoundJPEG = false;
  bool FoundDATA = false;
  bool FoundTable = false;
  bool FoundSize = false;
  std::uint32_t JPEGStart = 0;
  std::uint32_t JPEGSize = 0;
  std::string CurrentFilename;
  // The file CurrentFilename led to when it was analysed: the writers copy
  // from it only while it is still that file, unchanged.
  FileIdentity CurrentFileIdentity;
};

// Every CRW file has these four records; the size search ends only at a
// candidate whose own walk met all four.
inline bool AllRequiredRecordsFound(const AnalysisState& state) {
  return state.FoundSize && state.FoundName && state.FoundDATA && state.FoundTable;
}

// A failed search leaves FFilesize at HLen + 1 (its last candidate plus one),
// so anything above that is a size the search settled on.
inline bool SearchFoundSize(const AnalysisState& state) {
  return state.FFilesize > static_cast<std::int64_t>(state.HLen) + 1;
}

}  // namespace mendrake
