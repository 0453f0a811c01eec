#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ferrytide {

// The sender's record of files not yet sent completely, so that a send started again offers
// the same "transfer_id" and the phone resumes from the partial copy it holds.
//
// The file maps journal keys to transfer identifiers, written indented with sorted keys:
//
//   {
//     "entries": {
//       "report.pdf|52311|application/pdf|0123456789abcdef": "3F2504E0-4F89-41D3-9A0C-0305E82C3301"
//     }
//   }
//
// A journal that cannot be read or decoded counts as empty and is replaced at the next write;
// write errors are logged and otherwise ignored (a send then merely cannot resume). Every
// read-modify-write holds this object's lock and an advisory lock on the journal's folder, so
// senders in other threads and in other processes (the command line beside the tray
// application) do not overwrite each other's entries.
class InFlightJournal {
 public:
  static constexpr std::string_view defaultFileName = "inflight.json";

  // Absent: "inflight.json" in the application data folder.
  explicit InFlightJournal(std::optional<std::filesystem::path> fileURL = std::nullopt);

  const std::filesystem::path& fileURL() const { return fileURL_; }

  // name|size|mime, then |fingerprint when the fingerprint is not empty.
  static std::string journalKey(std::string_view name, std::int64_t size, std::string_view mime,
                                std::string_view fingerprint);

  // The file's transfer identifier: the recorded one, else a new UUID that is recorded.
  std::string getOrCreate(std::string_view name, std::int64_t size, std::string_view mime,
                          std::string_view fingerprint);
  // Forgets the file after a completed send; writes only when there was an entry, and removes
  // the journal when that was the last one.
  void complete(std::string_view name, std::int64_t size, std::string_view mime,
                std::string_view fingerprint);
  // Deletes the journal file. Throws file_io::FileError when it exists and cannot be removed.
  void wipe();
  std::map<std::string, std::string> snapshotEntries();

 private:
  std::filesystem::path fileURL_;
  std::mutex lock_;
};

}  // namespace ferrytide
