#include "crash/CrashCapture.h"

#define UNW_LOCAL_ONLY
#include <libunwind.h>
#include <sys/uio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace mendrake::crash {
namespace {

void AddRegister(CrashRecord& record, const char* name, std::uint64_t value) {
  if (record.registerCount >= CrashRecord::kMaxRegisters) return;
  CrashRecord::Register& slot = record.registers[record.registerCount++];
  std::strncpy(slot.name, name, sizeof slot.name - 1);
  slot.value = value;
}

// Copies memory that may no longer be valid: the kernel reports a bad
// address as an error instead of a second fault inside the handler.
bool CopyGuarded(void* target, const void* source, std::size_t length) {
  iovec local{target, length};
  iovec remote{const_cast<void*>(source), length};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

}  // namespace

void CaptureRegisters(CrashRecord& record, const ucontext_t& context) {
  record.registerCount = 0;
#if defined(__x86_64__)
  static constexpr struct {
    const char* name;
    int index;
  } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
                    {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"rsp", REG_RSP}, {"r8", REG_R8},   {"r9", REG_R9},
                    {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
                    {"r15", REG_R15}, {"rip", REG_RIP}, {"eflags", REG_EFL}, {"err", REG_ERR},
                    {"trapno", REG_TRAPNO}, {"cr2", REG_CR2}};
  for (const auto& reg : kRegisters) {
    AddRegister(record, reg.name, static_cast<std::uint64_t>(context.uc_mcontext.gregs[reg.index]));
  }
#elif defined(__aarch64__)
  static const char* const kNames[] = {"x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",  "x9",
                                       "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19",
                                       "x20", "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "fp", "lr"};
  for (std::size_t i = 0; i < std::size(kNames); ++i) AddRegister(record, kNames[i], context.uc_mcontext.regs[i]);
  AddRegister(record, "sp", context.uc_mcontext.sp);
  AddRegister(record, "pc", context.uc_mcontext.pc);
#else
  (void)context;
#endif
}

void CaptureFramesAtFault(CrashRecord& record, ucontext_t& context) {
  record.frameCount = 0;
  unw_cursor_t cursor;
#if defined(__x86_64__)
  // On this processor libunwind's context is the kernel's ucontext.
  if (unw_init_local2(&cursor, reinterpret_cast<unw_context_t*>(&context), UNW_INIT_SIGNAL_FRAME) != 0) return;
#else
  (void)context;
  unw_context_t here;
  unw_getcontext(&here);
  if (unw_init_local(&cursor, &here) != 0) return;
#endif
  do {
    unw_word_t ip = 0;
    if (unw_get_reg(&cursor, UNW_REG_IP, &ip) != 0 || ip == 0) break;
    record.frames[record.frameCount++] = ip;
  } while (record.frameCount < CrashRecord::kMaxFrames && unw_step(&cursor) > 0);
}

void CaptureNotes(CrashRecord& record, const CrashNotes& notes) {
  record.notes = notes.Data();
  record.currentFilename[0] = '\0';
  if (const std::string* name = notes.CurrentFilename()) {
    const std::size_t length = std::min(name->size(), sizeof record.currentFilename - 1);
    if (CopyGuarded(record.currentFilename, name->data(), length)) record.currentFilename[length] = '\0';
  }
}

void CaptureHere(CrashRecord& record, std::string& maps) {
  record.pid = getpid();
  record.tid = static_cast<std::int32_t>(syscall(SYS_gettid));
  record.time = ::time(nullptr);
  const ssize_t length = readlink("/proc/self/exe", record.executable, sizeof record.executable - 1);
  record.executable[length > 0 ? length : 0] = '\0';
  CaptureNotes(record, Notes());
  void* frames[CrashRecord::kMaxFrames + 1];
  const int count = unw_backtrace(frames, static_cast<int>(std::size(frames)));
  // Frame 0 is this function; the rest are return addresses of its callers.
  record.frameCount = 0;
  for (int i = 1; i < count; ++i) record.frames[record.frameCount++] = reinterpret_cast<std::uint64_t>(frames[i]);
  std::ifstream in("/proc/self/maps");
  maps.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace mendrake::crash
