#include "plinth_reports/crash_store.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "platform/linux/crash_delivery.h"

namespace plinth {
namespace {

namespace file_io = ferrytide::file_io;
namespace json = ferrytide::json;
using ferrytide::Bytes;

const ferrytide::Logger kLog("crash-store");

std::chrono::system_clock::time_point dateOf(const Bytes& record) {
  // The clock counts finer than milliseconds, so it holds a narrower span of them than int64;
  // no crash happened before 1970, and a date from then on can be taken from the clock's now.
  constexpr std::chrono::milliseconds latest =
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::duration::max());
  std::int64_t epochMs = 0;
  try {
    epochMs = json::requireInt64(json::parse(record), "time_epoch_ms");
  } catch (const json::DecodeError& error) {
    throw CrashStoreError(std::string("not a crash record: ") + error.what());
  }
  if (epochMs < 0 || epochMs > latest.count()) {
    throw CrashStoreError("not a crash record: \"time_epoch_ms\" is not a time the clock can hold");
  }
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMs));
}

std::optional<Crash> load(const std::filesystem::path& file) {
  try {
    std::optional<Bytes> content = file_io::readIfExists(file);
    if (!content) return std::nullopt;
    std::chrono::system_clock::time_point date = dateOf(*content);
    return Crash{file, date, std::move(*content)};
  } catch (const ferrytide::Error& error) {
    kLog.warning(file.string() + ": " + error.what());
    return std::nullopt;
  }
}

std::vector<std::filesystem::path> recordFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && entry.path().extension() == ".json") {
      files.push_back(entry.path());
    }
  }
  return files;
}

bool newerFirst(const Crash& a, const Crash& b) {
  return a.date != b.date ? a.date > b.date : a.url < b.url;
}

}  // namespace

CrashStore::CrashStore(std::filesystem::path reportFolder, Clock clock)
    : folder_(std::move(reportFolder) / "crashes"), clock_(std::move(clock)) {}

std::uint64_t CrashStore::fnv1a64(ferrytide::ByteView bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

void CrashStore::start(const std::function<void(const Crash&)>& onFound) {
  std::vector<Crash> found;
  ferrytide::platform::deliverPendingCrashes(pendingFolder(), [this, &found](const Bytes& record) {
    if (std::optional<Crash> crash = save(record)) found.push_back(std::move(*crash));
  });
  prune();
  for (const Crash& crash : found) {
    std::error_code error;
    if (std::filesystem::exists(crash.url, error)) onFound(crash);
  }
}

std::optional<Crash> CrashStore::save(const Bytes& json) {
  std::chrono::system_clock::time_point date = dateOf(json);
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.json", static_cast<unsigned long long>(fnv1a64(json)));
  file_io::createDirectories(folder_);
  std::filesystem::path url = folder_ / name;
  if (!file_io::writeAtomicallyIfAbsent(url, json)) return std::nullopt;
  return Crash{url, date, json};
}

std::vector<Crash> CrashStore::all() const {
  std::vector<Crash> crashes;
  for (const std::filesystem::path& file : recordFiles(folder_)) {
    if (std::optional<Crash> crash = load(file)) crashes.push_back(std::move(*crash));
  }
  std::sort(crashes.begin(), crashes.end(), newerFirst);
  return crashes;
}

void CrashStore::remove(const Crash& crash) {
  std::error_code error;
  std::filesystem::remove(crash.url, error);
  if (error) throw file_io::FileError(file_io::describe(crash.url, error.value()));
}

void CrashStore::prune() {
  std::chrono::system_clock::time_point now = clock_();
  std::set<std::filesystem::path> kept;
  for (const Crash& crash : all()) {
    if (kept.size() == keptCrashes) break;
    if (now - crash.date <= maxAge) kept.insert(crash.url);
  }
  for (const std::filesystem::path& file : recordFiles(folder_)) {
    if (kept.contains(file)) continue;
    std::error_code error;
    std::filesystem::remove(file, error);
    if (error) kLog.error("could not prune " + file.string() + ": " + error.message());
  }
}

}  // namespace plinth
