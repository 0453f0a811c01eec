#include "core/transfer/in_flight_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "core/support/uuid.h"

namespace ferrytide {

namespace {

using Entries = std::map<std::string, std::string>;

const Logger& logger() {
  static const Logger instance("inflight-journal");
  return instance;
}

Entries decodeEntries(const Bytes& content) {
  json::Value document = json::parse(content);
  auto found = json::requireObject(document).find("entries");
  if (found == document.end() || !found->is_object()) {
    throw json::DecodeError("key \"entries\" is not an object");
  }
  const json::Value& entries = *found;
  Entries result;
  for (const auto& [key, value] : entries.items()) {
    if (!value.is_string()) throw json::DecodeError("entry \"" + key + "\" is not a string");
    result.emplace(key, value.get<std::string>());
  }
  return result;
}

// No file, or one that cannot be read or decoded: no entries. A damaged journal only costs
// the chance to resume, and the next write replaces it.
Entries readEntries(const std::filesystem::path& path) {
  try {
    std::optional<Bytes> content = file_io::readIfExists(path);
    if (!content) return {};
    return decodeEntries(*content);
  } catch (const std::exception& error) {
    logger().warning("journal unreadable, starting afresh: " + std::string(error.what()));
    return {};
  }
}

void writeEntries(const std::filesystem::path& path, const Entries& entries) {
  try {
    json::Value document = json::Value::object();
    document["entries"] = json::Value::object();
    for (const auto& [key, id] : entries) document["entries"][key] = id;
    // Not flushed: a journal lost to a crash only means the next send starts over.
    file_io::writeAtomically(path, asBytes(json::encodePretty(document) + "\n"), 0600,
                             file_io::Durability::cached);
  } catch (const std::exception& error) {
    logger().warning("journal write failed: " + std::string(error.what()));
  }
}

// An exclusive advisory lock on the journal's folder for one read-modify-write; the folder is
// created first. When that fails the change goes ahead unlocked and its write will most
// likely fail too, which is logged.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder) {
    try {
      file_io::createDirectories(folder);
    } catch (const std::exception& error) {
      logger().warning("journal folder unavailable: " + std::string(error.what()));
      return;
    }
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }

 private:
  int fd_ = -1;
};

}  // namespace

InFlightJournal::InFlightJournal(std::optional<std::filesystem::path> fileURL)
    : fileURL_(fileURL ? *fileURL
                       : paths::applicationSupportDirectory() / std::string(defaultFileName)) {}

std::string InFlightJournal::journalKey(std::string_view name, std::int64_t size,
                                        std::string_view mime, std::string_view fingerprint) {
  std::string key = std::string(name) + "|" + std::to_string(size) + "|" + std::string(mime);
  if (!fingerprint.empty()) {
    key += '|';
    key += fingerprint;
  }
  return key;
}

std::string InFlightJournal::getOrCreate(std::string_view name, std::int64_t size,
                                         std::string_view mime, std::string_view fingerprint) {
  std::string key = journalKey(name, size, mime, fingerprint);
  std::lock_guard guard(lock_);
  FolderLock folderLock(fileURL_.parent_path());
  Entries entries = readEntries(fileURL_);
  if (auto found = entries.find(key); found != entries.end()) return found->second;
  std::string id = randomUuid();
  entries.emplace(key, id);
  writeEntries(fileURL_, entries);
  return id;
}

void InFlightJournal::complete(std::string_view name, std::int64_t size, std::string_view mime,
                               std::string_view fingerprint) {
  std::string key = journalKey(name, size, mime, fingerprint);
  std::lock_guard guard(lock_);
  std::error_code ignored;
  if (!std::filesystem::exists(fileURL_, ignored)) return;  // nothing recorded, nothing to create
  FolderLock folderLock(fileURL_.parent_path());
  Entries entries = readEntries(fileURL_);
  if (entries.erase(key) == 0) return;
  if (!entries.empty()) {
    writeEntries(fileURL_, entries);
    return;
  }
  // No journal reads as an empty one, and removing the file costs the disk far less than
  // writing a new one in its place: a run of files sent one by one then writes the journal
  // once per file instead of twice.
  if (::unlink(fileURL_.c_str()) != 0 && errno != ENOENT) {
    logger().warning("journal removal failed: " + file_io::describe(fileURL_, errno));
    writeEntries(fileURL_, entries);
  }
}

void InFlightJournal::wipe() {
  std::lock_guard guard(lock_);
  if (::unlink(fileURL_.c_str()) != 0 && errno != ENOENT) {
    throw file_io::FileError(file_io::describe(fileURL_, errno));
  }
}

std::map<std::string, std::string> InFlightJournal::snapshotEntries() {
  std::lock_guard guard(lock_);
  return readEntries(fileURL_);
}

}  // namespace ferrytide
