// A crash diagnostic as the crash capture leaves it for the next start, and the crash record
// stored from it. Delivery only reads a folder, so each input is written once to
// "<scratch>/crashes/pending/x.crash" on the memory file system before CrashStore::start.
// Starting never throws. Afterwards the diagnostic is gone from the pending ones (delivered or
// set aside), and a crash found is a stored record with its date, signal and process.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/support/json.h"
#include "platform/linux/crash_capture.h"
#include "plinth_reports/crash_store.h"
#include "scratch_folder.h"

using namespace ferrytide;

namespace {

bool anyPending(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().ends_with(platform::kPendingCrashExtension)) return true;
  }
  return false;
}

void checkRecord(const plinth::Crash& crash) {
  if (!std::filesystem::is_regular_file(crash.url)) std::abort();
  const json::Value record = json::parse(crash.json);
  const std::int64_t epochMs = json::requireInt64(record, "time_epoch_ms");
  if (epochMs <= 0 || json::requireInt64(record, "signal") <= 0 ||
      json::requireInt64(record, "pid") <= 0 || !json::requireArray(record, "frames").is_array() ||
      crash.date != std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMs))) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::keepLogsOutOfSyslog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path reports = fuzzing::scratchFolder() / "reports";
  // The day after the sample diagnostic's, so that it is kept.
  plinth::CrashStore store(reports, [] {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(1733566400000));
  });
  fuzzing::emptyFolder(store.folder());
  std::filesystem::create_directories(store.pendingFolder());
  fuzzing::writeInput(store.pendingFolder() / "x.crash", data, size);
  int found = 0;
  store.start([&found](const plinth::Crash& crash) {
    checkRecord(crash);
    ++found;
  });
  if (found > 1 || anyPending(store.pendingFolder())) std::abort();
  return 0;
}
