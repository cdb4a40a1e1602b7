#include "crash/CrashHandler.h"

#include "crash/CrashCapture.h"
#include "crash/ReportStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <time.h>

extern char** environ;

namespace mendrake::crash {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kAltStackBytes = 256 * 1024;
constexpr char kHelperName[] = "mendrake-crash-report";
// The helper reads debug information of every module: seconds, not minutes.
constexpr int kHelperPatienceTicks = 600;
constexpr long kHelperTickNanoseconds = 50'000'000;

// What the handler needs, set aside at installation: a signal handler is
// given nothing but the signal, so this one block is reached through a
// file-scope pointer.
struct HandlerState {
  HandlerOptions options;
  char folder[4096] = {};
  char helper[4096] = {};
  char dumpPath[4200] = {};
  char copyBuffer[4096] = {};
  CrashRecord record;
  std::atomic<bool> entered{false};
};
HandlerState* handlerState = nullptr;

// Appends text to a fixed buffer; signal-safe.
void Append(char* buffer, std::size_t size, const char* text) {
  std::size_t used = strnlen(buffer, size);
  while (*text != '\0' && used + 1 < size) buffer[used++] = *text++;
  buffer[used] = '\0';
}

void AppendDecimal(char* buffer, std::size_t size, unsigned long value) {
  char digits[24];
  int at = sizeof digits - 1;
  digits[at] = '\0';
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && at > 0);
  Append(buffer, size, digits + at);
}

void WriteAll(int fd, const void* data, std::size_t length) {
  const char* at = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t written = write(fd, at, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    at += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Creates the folder and those above it, as mkdir -p would.
void MakeFolders(char* path) {
  for (char* at = path + 1; *at != '\0'; ++at) {
    if (*at != '/') continue;
    *at = '\0';
    mkdir(path, 0700);
    *at = '/';
  }
  mkdir(path, 0700);
}

bool WriteDump(HandlerState& state) {
  MakeFolders(state.folder);
  state.dumpPath[0] = '\0';
  Append(state.dumpPath, sizeof state.dumpPath, state.folder);
  Append(state.dumpPath, sizeof state.dumpPath, "/.crash-");
  AppendDecimal(state.dumpPath, sizeof state.dumpPath, static_cast<unsigned long>(state.record.pid));
  Append(state.dumpPath, sizeof state.dumpPath, ".dump");
  const int dump = open(state.dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (dump < 0) return false;
  WriteAll(dump, &state.record, sizeof state.record);
  const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps >= 0) {
    ssize_t got;
    while ((got = read(maps, state.copyBuffer, sizeof state.copyBuffer)) > 0) {
      WriteAll(dump, state.copyBuffer, static_cast<std::size_t>(got));
    }
    close(maps);
  }
  close(dump);
  return true;
}

// Starts the helper and waits for it. A bare clone instead of fork(): fork
// would run the atfork handlers of every library, in a process that faulted.
bool RunHelper(HandlerState& state) {
  char* argv[6] = {state.helper, state.dumpPath, state.folder, nullptr, nullptr, nullptr};
  int next = 3;
  char announce[] = "--announce";
  char unshown[] = "--unshown";
  if (state.options.announce) argv[next++] = announce;
  if (state.options.showAtNextStart) argv[next++] = unshown;
  const long child = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  if (child == 0) {
    execve(state.helper, argv, environ);
    _exit(127);
  }
  if (child < 0) return false;
  // A helper that hangs must not keep the crashed program from ending.
  int status = 0;
  for (int tick = 0;; ++tick) {
    const pid_t done = waitpid(static_cast<pid_t>(child), &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return false;
    if (tick == kHelperPatienceTicks) {
      kill(static_cast<pid_t>(child), SIGKILL);
      waitpid(static_cast<pid_t>(child), &status, 0);
      return false;
    }
    timespec pause{0, kHelperTickNanoseconds};
    nanosleep(&pause, nullptr);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Without the helper the dump is all there is; say where it is.
void AnnounceDumpOnly(const HandlerState& state) {
  if (!state.options.announce) return;
  const char lead[] = "Crash report could not be written; the raw crash details are in ";
  WriteAll(STDERR_FILENO, lead, sizeof lead - 1);
  WriteAll(STDERR_FILENO, state.dumpPath, strnlen(state.dumpPath, sizeof state.dumpPath));
  WriteAll(STDERR_FILENO, "\n", 1);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
  HandlerState& state = *handlerState;
  // A second thread that faults meanwhile waits for the first to finish.
  if (state.entered.exchange(true)) {
    for (;;) pause();
  }
  CrashRecord& record = state.record;
  record.signal = signal;
  record.code = info->si_code;
  if (info->si_code == SI_USER || info->si_code == SI_TKILL) {
    record.senderPid = info->si_pid;
  } else {
    record.faultAddress = reinterpret_cast<std::uint64_t>(info->si_addr);
  }
  record.pid = getpid();
  record.tid = static_cast<std::int32_t>(syscall(SYS_gettid));
  record.time = ::time(nullptr);
  auto& interrupted = *static_cast<ucontext_t*>(context);
  CaptureRegisters(record, interrupted);
  CaptureFramesAtFault(record, interrupted);
  CaptureNotes(record, Notes());
  if (WriteDump(state) && !RunHelper(state)) AnnounceDumpOnly(state);

  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal);
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  raise(signal);
}

}  // namespace

bool CrashHandlerBuiltIn() {
#ifdef MENDRAKE_NO_CRASH_HANDLER
  return false;
#else
  return true;
#endif
}

void InstallCrashHandler(const HandlerOptions& options, const std::string* currentFilename) {
  Notes().SetProgram(options.program);
  Notes().WatchCurrentFilename(currentFilename);
  if (!CrashHandlerBuiltIn() || handlerState != nullptr) return;

  static HandlerState state;
  state.options = options;
  const std::string folder = ReportFolder().string();
  Append(state.folder, sizeof state.folder, folder.c_str());
  const ssize_t length = readlink("/proc/self/exe", state.record.executable, sizeof state.record.executable - 1);
  state.record.executable[length > 0 ? length : 0] = '\0';
  Append(state.helper, sizeof state.helper, state.record.executable);
  if (char* slash = std::strrchr(state.helper, '/')) slash[1] = '\0';
  const std::size_t programFolderLength = std::strlen(state.helper);
  Append(state.helper, sizeof state.helper, kHelperName);
#ifdef MENDRAKE_HELPER_FROM_BINDIR
  // Installed, the helper is no command of its own: it lives in the private
  // program folder, found from the folder of the programs.
  if (access(state.helper, X_OK) != 0) {
    state.helper[programFolderLength] = '\0';
    Append(state.helper, sizeof state.helper, MENDRAKE_HELPER_FROM_BINDIR "/");
    Append(state.helper, sizeof state.helper, kHelperName);
  }
#endif
  handlerState = &state;

  // A stack overflow leaves no room to run the handler on the thread's own stack.
  stack_t alternate{};
  alternate.ss_sp = mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  alternate.ss_size = kAltStackBytes;
  if (alternate.ss_sp != MAP_FAILED) sigaltstack(&alternate, nullptr);

  // libunwind reads the unwind tables on first use; do it now, not in the handler.
  CrashRecord warmUp;
  std::string maps;
  CaptureHere(warmUp, maps);

  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (const int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

}  // namespace mendrake::crash
