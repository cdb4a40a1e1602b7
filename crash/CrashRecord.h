#pragma once

#include "crash/CrashNotes.h"

#include <cstdint>
#include <string>

namespace mendrake::crash {

// Everything taken at the moment of a fault, in one plain block that the
// signal handler fills in place and writes with write(2). The process's
// memory map follows it in the dump file as /proc/self/maps gave it.
struct CrashRecord {
  static constexpr std::uint64_t kMagic = 0x3150554d44524d43ULL;  // "CMRDMUP1"
  static constexpr std::size_t kMaxFrames = 256;
  static constexpr std::size_t kMaxRegisters = 32;

  struct Register {
    char name[8];
    std::uint64_t value;
  };

  std::uint64_t magic = kMagic;
  std::int32_t signal = 0;  // 0: an exception, not a signal
  std::int32_t code = 0;
  std::uint64_t faultAddress = 0;
  std::int32_t senderPid = 0;  // for a signal sent by kill or raise
  std::int32_t pid = 0;
  std::int32_t tid = 0;
  std::int64_t time = 0;  // seconds since the epoch
  char executable[4096] = {};
  char currentFilename[4096] = {};
  NotesData notes;
  std::uint32_t registerCount = 0;
  Register registers[kMaxRegisters] = {};
  // The first frame is the faulting instruction; the others are return addresses.
  std::uint32_t frameCount = 0;
  std::uint32_t framesFromThrow = 0;  // 1: an exception's stack where it was thrown
  std::uint64_t frames[kMaxFrames] = {};
};

// An exception that reached the application's handler.
struct ExceptionFacts {
  std::string type;
  std::string message;
};

// Fills a record for an error met outside a signal handler: the stack of the
// calling thread (its own frame left out), the notes and the memory map.
void CaptureHere(CrashRecord& record, std::string& maps);

}  // namespace mendrake::crash
