#include "platform/linux/crash_capture.h"

#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/support/file_io.h"

// Everything the signal handler runs must be async-signal-safe: no allocation, no stdio, no
// locks. It uses only the buffers below, made ready at install time, and open, read, write,
// close, clock_gettime, getpid, sigaction and raise. backtrace() is not on the list, but it
// only allocates when it first loads the unwinder, and installation calls it once for that.

namespace ferrytide::platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr int kMaxFrames = 64;
constexpr std::size_t kAlternateStackSize = 128 * 1024;

struct Prepared {
  char path[PATH_MAX];
  void* frames[kMaxFrames];
  char line[256];
  char copy[4096];
};

Prepared prepared;
bool installed = false;
std::atomic<bool> handling{false};

const char* signalName(int number) {
  switch (number) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGABRT:
      return "SIGABRT";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
  }
  return "unknown";
}

void writeAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Builds one line in prepared.line and writes it.
class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}

  LineWriter& text(const char* text) {
    while (*text != '\0') put(*text++);
    return *this;
  }
  LineWriter& decimal(unsigned long long value) {
    char digits[20];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) put(digits[--count]);
    return *this;
  }
  LineWriter& hex(std::uintptr_t value) {
    text("0x");
    int shift = static_cast<int>(sizeof value * 8) - 4;
    while (shift > 0 && ((value >> shift) & 0xf) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) put("0123456789abcdef"[(value >> shift) & 0xf]);
    return *this;
  }
  void end() {
    put('\n');
    writeAll(fd_, prepared.line, used_);
    used_ = 0;
  }

 private:
  void put(char c) {
    if (used_ < sizeof prepared.line - 1) prepared.line[used_++] = c;
  }

  int fd_;
  std::size_t used_ = 0;
};

void copyMemoryMap(int fd) {
  int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps < 0) return;
  for (;;) {
    ssize_t count = ::read(maps, prepared.copy, sizeof prepared.copy);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    writeAll(fd, prepared.copy, static_cast<std::size_t>(count));
  }
  ::close(maps);
}

void writeDiagnostic(int number, const siginfo_t* info) {
  int fd = ::open(prepared.path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long epochMs = static_cast<unsigned long long>(now.tv_sec) * 1000 +
                               static_cast<unsigned long long>(now.tv_nsec) / 1000000;
  LineWriter out(fd);
  out.text("ferrytide-crash 1").end();
  out.text("signal ").decimal(static_cast<unsigned>(number)).end();
  out.text("name ").text(signalName(number)).end();
  // A signal sent by a process (kill, raise, abort) has no address; si_code tells them apart.
  if (info != nullptr && info->si_code > 0) {
    out.text("address ").hex(reinterpret_cast<std::uintptr_t>(info->si_addr)).end();
  }
  out.text("pid ").decimal(static_cast<unsigned long long>(::getpid())).end();
  out.text("version ").text(FERRYTIDE_VERSION).end();
  out.text("time_epoch_ms ").decimal(epochMs).end();
  int frames = ::backtrace(prepared.frames, kMaxFrames);
  for (int i = 0; i < frames; ++i) {
    out.text("frame ").hex(reinterpret_cast<std::uintptr_t>(prepared.frames[i])).end();
  }
  out.text("maps").end();
  copyMemoryMap(fd);
  out.text("end").end();
  ::close(fd);
}

void onFatalSignal(int number, siginfo_t* info, void*) {
  // A second thread that crashes meanwhile waits here until the first one ends the process.
  if (handling.exchange(true)) {
    for (;;) ::pause();
  }
  writeDiagnostic(number, info);
  struct sigaction original {};
  original.sa_handler = SIG_DFL;
  ::sigemptyset(&original.sa_mask);
  ::sigaction(number, &original, nullptr);
  // Blocked until this handler returns; a fault would also come back on its own.
  ::raise(number);
}

[[noreturn]] void fail(const std::string& what, int errorNumber) {
  throw CrashCaptureError("crash capture: " + what + ": " + std::strerror(errorNumber));
}

void prepareFileName(const std::filesystem::path& pendingFolder) {
  auto epochMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
  std::string name = std::to_string(epochMs) + "-" + std::to_string(::getpid());
  std::string path = (pendingFolder / (name + kPendingCrashExtension)).string();
  if (path.size() >= sizeof prepared.path) fail(path, ENAMETOOLONG);
  std::memcpy(prepared.path, path.c_str(), path.size() + 1);
}

void setAlternateStack() {
  void* memory = ::mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) fail("alternate signal stack", errno);
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAlternateStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) fail("alternate signal stack", errno);
}

void setHandlers() {
  struct sigaction action {};
  action.sa_sigaction = onFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  // While one report is written, another fatal signal in the same thread ends the process.
  ::sigemptyset(&action.sa_mask);
  for (int number : kFatalSignals) ::sigaddset(&action.sa_mask, number);
  for (int number : kFatalSignals) {
    if (::sigaction(number, &action, nullptr) != 0) fail(signalName(number), errno);
  }
}

}  // namespace

void installCrashCapture(const std::filesystem::path& pendingFolder) {
  if (installed) throw CrashCaptureError("crash capture is already installed");
  file_io::createDirectories(pendingFolder);
  prepareFileName(pendingFolder);
  ::backtrace(prepared.frames, kMaxFrames);
  setAlternateStack();
  setHandlers();
  installed = true;
}

}  // namespace ferrytide::platform
