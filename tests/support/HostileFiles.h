#pragma once

#include "tests/support/CrwBuilder.h"

#include <string>
#include <vector>

namespace mendrake::testing {

// Files made to hurt a CIFF reader: loops, fan-outs, tails that keep every
// candidate size plausible, records at and past the end, wrapping offsets,
// truncated headers. Each is built on demand: some are 64 MiB.
struct HostileCase {
  const char* name;
  Bytes (*build)();
};
const std::vector<HostileCase>& HostileCases();

// Length of the zero tail that makes every candidate size lead to one directory.
constexpr std::size_t kHostileZeroTail = std::size_t{64} << 20;

}  // namespace mendrake::testing
