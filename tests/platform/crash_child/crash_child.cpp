// Stands in for the application around a crash:
//   ferrytide_crash_child REPORT_FOLDER segv|abort|start
// "segv" and "abort" crash once the crash capture is installed; "segv" first prints
// "fault-address 0x…", the page it is about to write to. "start" is the next start: it prints
// "found <record>" for each crash that the crash store finds.

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/support/bytes.h"
#include "platform/linux/crash_capture.h"
#include "plinth_reports/crash_store.h"

// Exported (the program is linked with its symbols visible), so that the crash record can
// name it.
extern "C" __attribute__((noinline)) void ferrytideCrashChildWrite(volatile int* page) {
  *page = 1;
}

namespace {

int crashByWrite() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return 3;
  std::printf("fault-address %p\n", page);
  std::fflush(stdout);
  ferrytideCrashChildWrite(static_cast<volatile int*>(page));
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string mode = argv[2];
  rlimit noCoreFile{0, 0};
  setrlimit(RLIMIT_CORE, &noCoreFile);
  plinth::CrashStore store(argv[1]);
  ferrytide::platform::installCrashCapture(store.pendingFolder());
  if (mode == "abort") std::abort();
  if (mode == "segv") return crashByWrite();
  if (mode != "start") return 2;
  store.start([](const plinth::Crash& crash) {
    std::printf("found %s\n", ferrytide::toString(crash.json).c_str());
  });
  return 0;
}
