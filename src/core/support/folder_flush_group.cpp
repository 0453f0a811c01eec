#include "core/support/folder_flush_group.h"

#include <algorithm>
#include <utility>

#include "core/support/file_io.h"

namespace ferrytide {

FolderFlushGroup::FolderFlushGroup(Flush flush) : flush_(std::move(flush)) {}

FolderFlushGroup& FolderFlushGroup::shared() {
  static FolderFlushGroup group(file_io::flushFolder);
  return group;
}

void FolderFlushGroup::flushAfterChange(const std::filesystem::path& folder) {
  std::unique_lock lock(lock_);
  Folder& state = folders_[folder];
  const std::uint64_t ticket = ++state.requested;
  while (state.flushed < ticket) {
    if (state.running) {
      finished_.wait(lock);
      continue;
    }
    // Every caller numbered up to here called before this flush starts, so it covers them.
    const std::uint64_t covers = state.requested;
    state.running = true;
    lock.unlock();
    try {
      flush_(folder);
    } catch (...) {
      // The callers it would have covered try again, each with a flush of its own.
      lock.lock();
      state.running = false;
      finished_.notify_all();
      throw;
    }
    lock.lock();
    state.running = false;
    state.flushed = std::max(state.flushed, covers);
    finished_.notify_all();
  }
}

}  // namespace ferrytide
