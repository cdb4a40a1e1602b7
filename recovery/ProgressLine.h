#pragma once

#include "recovery/CardRecovery.h"

#include <string>

namespace mendrake {

// What a scan has done after seconds, and when it will end at that pace:
// "1.2 GiB of 3.0 GiB read, 85.3 MiB/s, 21 s left, 4 files found". The pace
// counts the bytes read since the scan began (a scan may begin past the
// card's start); before any time has passed it is left out.
std::string RecoveryProgressLine(const RecoveryProgress& progress, double seconds);

}  // namespace mendrake
