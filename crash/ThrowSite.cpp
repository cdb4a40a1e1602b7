#include "crash/ThrowSite.h"

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include <iterator>

namespace mendrake::crash {
namespace {

struct ThrowSite {
  const void* object = nullptr;
  int count = 0;
  void* frames[CrashRecord::kMaxFrames];
};

// Per thread, as exceptions are: a second thread's throw must not replace
// the stack of the first.
thread_local ThrowSite lastThrow;

}  // namespace

void RecordThrowSite(const void* exceptionObject) {
  lastThrow.object = exceptionObject;
  lastThrow.count = unw_backtrace(lastThrow.frames, static_cast<int>(std::size(lastThrow.frames)));
}

bool TakeThrowSite(const void* exceptionObject, CrashRecord& record) {
  if (exceptionObject == nullptr || lastThrow.object != exceptionObject || lastThrow.count <= 2) return false;
  // The first two frames are the recording and the throw wrapper.
  record.frameCount = 0;
  for (int i = 2; i < lastThrow.count; ++i) {
    record.frames[record.frameCount++] = reinterpret_cast<std::uint64_t>(lastThrow.frames[i]);
  }
  record.framesFromThrow = 1;
  lastThrow.object = nullptr;
  return true;
}

}  // namespace mendrake::crash
