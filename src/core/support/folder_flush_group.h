#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

namespace ferrytide {

// Flushes folders for callers on several threads, sharing each flush among the callers that
// wait for it. A caller waits for a flush that began after it called: one that was already
// running may have missed its change. The callers that arrive while a flush runs are all served
// by the next one, so files named at about the same time cost about two flushes, not one each.
class FolderFlushGroup {
 public:
  using Flush = std::function<void(const std::filesystem::path&)>;

  // `flush` does one flush of a folder and throws when it fails (file_io::flushFolder here).
  explicit FolderFlushGroup(Flush flush);

  // The group that every receive in this process shares.
  static FolderFlushGroup& shared();

  // Returns once what the calling thread changed in `folder` before the call is on the disk.
  // Rethrows the failure of a flush this call depends on: a flush that fails counts for no one.
  void flushAfterChange(const std::filesystem::path& folder);

 private:
  struct Folder {
    std::uint64_t requested = 0;  // callers so far, in order: each call takes the next number
    std::uint64_t flushed = 0;    // every caller up to this number is on the disk
    bool running = false;
  };

  Flush flush_;
  std::mutex lock_;
  std::condition_variable finished_;
  std::map<std::filesystem::path, Folder> folders_;
};

}  // namespace ferrytide
