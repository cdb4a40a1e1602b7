#pragma once

#include "crash/CrashRecord.h"

namespace mendrake::crash {

// The stack where an exception was thrown is gone by the time a handler
// catches it. Programs linked with -Wl,--wrap=__cxa_throw and
// crash/ThrowSiteWrap.cpp record it at every throw of their own code (the
// last one per thread), so that an error report can show where an error
// began rather than where it was caught.
void RecordThrowSite(const void* exceptionObject);

// Puts the recorded stack into the record if it belongs to this exception
// object, and says whether it did.
bool TakeThrowSite(const void* exceptionObject, CrashRecord& record);

}  // namespace mendrake::crash
