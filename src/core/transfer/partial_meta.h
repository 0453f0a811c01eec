#pragma once

// The sidecar that marks a partial download with the transfer it belongs to. Beside
// "photo.jpg.partial" lies "photo.jpg.partial.meta.json", one pretty-printed JSON object with
// sorted keys:
//
//   {
//     "advertised_size": 52311,
//     "started_at_epoch_ms": 1764000000000,
//     "transfer_id": "4F1C…"
//   }
//
// Only "transfer_id" decides anything: an offer with the same identifier resumes the partial.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ferrytide {

struct PartialMeta {
  std::string transferId;             // "transfer_id" of the offer this partial belongs to
  std::int64_t advertisedSize = 0;    // "advertised_size": the offered size
  std::int64_t startedAtEpochMs = 0;  // "started_at_epoch_ms": when this session accepted it

  bool operator==(const PartialMeta&) const = default;
};

class PartialMetaIO {
 public:
  static constexpr std::string_view suffix = ".meta.json";

  // The partial's path with ".meta.json" appended.
  static std::filesystem::path metaURL(const std::filesystem::path& partial);
  // Nothing when the sidecar is absent, is not a plain file, or cannot be read or decoded.
  static std::optional<PartialMeta> load(const std::filesystem::path& partial);
  // Replaces the sidecar atomically. Throws file_io::FileError with the system's reason.
  static void save(const PartialMeta& meta, const std::filesystem::path& partial);
  // Removes the sidecar if there is one; a failed removal is ignored (a stale sidecar only
  // names a transfer whose partial is gone).
  static void remove(const std::filesystem::path& partial);
};

}  // namespace ferrytide
