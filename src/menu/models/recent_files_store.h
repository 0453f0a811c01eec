#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <vector>

#include "menu/models/file_log.h"

namespace ferrytide::menu {

// The recent-files list on disk, "recent-files.json" in the state folder: a JSON array of
// rows, newest first.
//
//   [{"bytes":52341,"date":1733480000.25,"path":"/home/ada/Downloads/Ferrytide/IMG_2041.jpg",
//     "peerName":"Pixel 8","peerPubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=",
//     "sent":false}]
//
// "peerPubkey" is left out when unknown; "date" is seconds since 1970. Rows get a new id when
// loaded. Both operations do blocking file work: call them off the main thread.
class RecentFilesStore {
 public:
  static constexpr const char* fileName = "recent-files.json";

  struct Loaded {
    std::vector<FileLog> entries;
    // Set when the file was damaged or unreadable and has been set aside.
    std::optional<QString> damagedNotice;
  };

  // <state folder>/recent-files.json
  static std::filesystem::path defaultFileURL();

  explicit RecentFilesStore(std::filesystem::path fileURL = defaultFileURL());

  const std::filesystem::path& fileURL() const { return fileURL_; }

  // The stored rows whose files still exist, at most `limit`. Without a file (the first
  // start) the save folder's files stand in, newest first. A damaged or unreadable file is
  // set aside as "recent-files.json.damaged" and the save folder stands in too. Never fails.
  Loaded load(const std::filesystem::path& seedFrom, std::size_t limit) const;
  // Never fails: errors are logged and the previous file stays.
  void save(const std::vector<FileLog>& entries) const;

  // The regular, visible files directly in `folder`, newest first, as received rows without
  // a phone. Empty when the folder cannot be listed.
  static std::vector<FileLog> seed(const std::filesystem::path& folder, std::size_t limit);

 private:
  Loaded setAsideAndSeed(const std::string& reason, const std::filesystem::path& seedFrom,
                         std::size_t limit) const;

  std::filesystem::path fileURL_;
};

}  // namespace ferrytide::menu
