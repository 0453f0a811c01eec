#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace ferrytide::menu {

// One row of the recent-files list: a file received from or sent to a phone.
struct FileLog {
  enum class Direction { received, sent };

  QUuid id;                   // identity of the row in lists; not stored
  std::filesystem::path url;  // received: where it was saved; sent: the source file
  std::int64_t bytes = 0;
  QDateTime date;  // when the transfer finished
  Direction direction = Direction::received;
  QString peerName;                   // the phone's display name at the time
  std::optional<QString> peerPubkey;  // Base64, when known

  bool operator==(const FileLog&) const = default;
};

}  // namespace ferrytide::menu
