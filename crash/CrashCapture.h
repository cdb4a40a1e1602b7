#pragma once

#include "crash/CrashRecord.h"

#include <ucontext.h>

namespace mendrake::crash {

// The steps of a capture; all of them async-signal-safe: no allocation, no
// locks, only system calls and copies into the record.

// The general registers at the fault, by name.
void CaptureRegisters(CrashRecord& record, const ucontext_t& context);
// Raw return addresses of the interrupted thread, from the fault outwards.
void CaptureFramesAtFault(CrashRecord& record, ucontext_t& context);
// The notes and the watched file name; a name whose memory cannot be read is
// left empty instead of faulting again.
void CaptureNotes(CrashRecord& record, const CrashNotes& notes);

}  // namespace mendrake::crash
