#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace plinth {

class CrashStoreError : public ferrytide::Error {
 public:
  using Error::Error;
};

// One stored crash record: its file, when the process crashed and the record's JSON (see
// platform/linux/crash_delivery.h for its fields).
struct Crash {
  std::filesystem::path url;
  std::chrono::system_clock::time_point date;
  ferrytide::Bytes json;
};

// The crash records in "<report folder>/crashes", one file each, named after the 64-bit FNV-1a
// hash of the record's JSON bytes ("%016llx.json"), so that a crash delivered twice is stored
// once. The crash capture leaves its diagnostics in pendingFolder() until start() stores them.
// The date of a record is its "time_epoch_ms". Used from one thread.
class CrashStore {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  static constexpr std::size_t keptCrashes = 5;
  static constexpr std::chrono::seconds maxAge{2592000};

  explicit CrashStore(
      std::filesystem::path reportFolder,
      Clock clock = [] { return std::chrono::system_clock::now(); });

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path pendingFolder() const { return folder_ / "pending"; }

  // Stores each pending diagnostic, prunes, then calls `onFound` on this thread, before
  // returning, once for each crash that was not stored before and survived the pruning.
  void start(const std::function<void(const Crash&)>& onFound);
  // The new crash, or nothing when the same record is already stored. Throws CrashStoreError
  // when `json` is not a record with a date, file_io::FileError when it cannot be written.
  std::optional<Crash> save(const ferrytide::Bytes& json);
  // Newest first; files that are not records are left out.
  std::vector<Crash> all() const;
  // Throws file_io::FileError when the file exists but cannot be removed.
  void remove(const Crash& crash);
  // Keeps the keptCrashes newest records that are at most maxAge old and deletes the rest,
  // files that are not records included.
  void prune();

  static std::uint64_t fnv1a64(ferrytide::ByteView bytes);

 private:
  std::filesystem::path folder_;
  Clock clock_;
};

}  // namespace plinth
