// The recent-files list as it is read back at start. RecentFilesStore only reads its file, so
// each input is written once to "<scratch>/recent-files.json" on the memory file system (the
// save folder that stands in for a damaged list is an empty folder beside it). Loading never
// fails; the rows loaded save and load again to the same rows.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "menu/models/recent_files_store.h"
#include "scratch_folder.h"

using namespace ferrytide::menu;

namespace {

bool sameRows(const std::vector<FileLog>& a, const std::vector<FileLog>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](FileLog x, const FileLog& y) {
    x.id = y.id;  // rows get a new id on every load
    return x == y;
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::keepLogsOutOfSyslog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path file = fuzzing::scratchFolder() / RecentFilesStore::fileName;
  static const std::filesystem::path seedFolder = [] {
    std::filesystem::path folder = fuzzing::scratchFolder() / "Ferrytide";
    std::filesystem::create_directories(folder);
    return folder;
  }();
  constexpr std::size_t limit = 50;
  fuzzing::writeInput(file, data, size);
  RecentFilesStore store(file);
  RecentFilesStore::Loaded loaded = store.load(seedFolder, limit);
  if (loaded.entries.size() > limit) std::abort();
  if (loaded.damagedNotice || loaded.entries.empty()) return 0;
  store.save(loaded.entries);
  if (!sameRows(store.load(seedFolder, limit).entries, loaded.entries)) std::abort();
  return 0;
}
