#include "core/transfer/partial_meta.h"

#include <sys/stat.h>
#include <unistd.h>

#include "core/support/file_io.h"
#include "core/support/json.h"

namespace ferrytide {
namespace {

// A real sidecar is about a hundred bytes; anything far larger is not one of ours and is not
// worth reading into memory.
constexpr off_t kMaxSidecarBytes = 64 * 1024;

}  // namespace

std::filesystem::path PartialMetaIO::metaURL(const std::filesystem::path& partial) {
  std::filesystem::path meta = partial;
  meta += suffix;
  return meta;
}

std::optional<PartialMeta> PartialMetaIO::load(const std::filesystem::path& partial) {
  const std::filesystem::path meta = metaURL(partial);
  // lstat: a symbolic link planted in the save folder is never followed.
  struct stat info {};
  if (::lstat(meta.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > kMaxSidecarBytes) {
    return std::nullopt;
  }
  try {
    std::optional<Bytes> content = file_io::readIfExists(meta);
    if (!content) return std::nullopt;
    const json::Value value = json::parse(*content);
    json::requireObject(value);
    return PartialMeta{json::requireString(value, "transfer_id"),
                       json::requireInt64(value, "advertised_size"),
                       json::requireInt64(value, "started_at_epoch_ms")};
  } catch (const Error&) {
    return std::nullopt;
  }
}

void PartialMetaIO::save(const PartialMeta& meta, const std::filesystem::path& partial) {
  json::Value value = json::Value::object();
  value["transfer_id"] = meta.transferId;
  value["advertised_size"] = meta.advertisedSize;
  value["started_at_epoch_ms"] = meta.startedAtEpochMs;
  const std::string text = json::encodePretty(value);
  // Not flushed: a sidecar lost to a crash only means the phone sends the file again; the file
  // itself is flushed before it gets its final name.
  file_io::writeAtomically(metaURL(partial), asBytes(text), 0644, file_io::Durability::cached);
}

void PartialMetaIO::remove(const std::filesystem::path& partial) {
  ::unlink(metaURL(partial).c_str());
}

}  // namespace ferrytide
