// The sender's in-flight journal as it is read back. InFlightJournal only reads its file, so
// each input is written once to "<scratch>/inflight.json" on the memory file system. Reading
// never throws (a damaged journal counts as empty). Recording one more file keeps every entry
// that was read and adds exactly that one.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/transfer/in_flight_journal.h"
#include "scratch_folder.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::keepLogsOutOfSyslog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path file = fuzzing::scratchFolder() / "inflight.json";
  fuzzing::writeInput(file, data, size);
  InFlightJournal journal(file);
  std::map<std::string, std::string> entries = journal.snapshotEntries();

  const std::string key = InFlightJournal::journalKey("report.pdf", 52311, "application/pdf", "");
  std::string id = journal.getOrCreate("report.pdf", 52311, "application/pdf", "");
  auto [recorded, added] = entries.emplace(key, id);
  if (!added && recorded->second != id) std::abort();
  if (journal.snapshotEntries() != entries) std::abort();
  return 0;
}
