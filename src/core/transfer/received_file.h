#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace ferrytide {

// One finished receive.
struct ReceivedFile {
  std::filesystem::path savedAt;           // final location in the save folder
  std::int64_t bytesWritten = 0;           // resume offset + bytes of this session
  std::int64_t advertisedSize = 0;         // "size" of the offer
  std::string mime;                        // "mime" of the offer
  std::string remoteEndpoint;              // the phone's address and port, e.g. "192.168.1.23:51234"
  double durationSeconds = 0;              // offer to Done; never negative
  std::int64_t bytesReceivedThisSession = 0;
  std::int64_t resumedFromOffset = 0;      // the accepted offset sent in Resume

  bool operator==(const ReceivedFile&) const = default;
};

}  // namespace ferrytide
