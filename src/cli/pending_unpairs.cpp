#include "cli/pending_unpairs.h"

#include <algorithm>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/paths.h"

namespace ferrytide::cli {

PendingUnpairs::PendingUnpairs(std::filesystem::path file) : file_(std::move(file)) {}

std::vector<PeerRecord> PendingUnpairs::load() const {
  std::vector<PeerRecord> phones;
  try {
    std::optional<Bytes> text = file_io::readIfExists(file_);
    if (!text) return phones;
    json::Value object = json::requireObject(json::parse(*text));
    for (const auto& [pubkey, record] : object.items()) {
      PeerRecord phone = PeerRecord::fromJson(record);
      if (phone.peer_pubkey == pubkey) phones.push_back(std::move(phone));
    }
  } catch (const std::exception&) {
    return {};
  }
  return phones;
}

void PendingUnpairs::add(const PeerRecord& phone) const {
  std::vector<PeerRecord> phones = load();
  std::erase_if(phones, [&](const PeerRecord& old) { return old.peer_pubkey == phone.peer_pubkey; });
  phones.push_back(phone);
  write(phones);
}

void PendingUnpairs::remove(const std::string& peerPubkey) const {
  std::vector<PeerRecord> phones = load();
  std::size_t removed =
      std::erase_if(phones, [&](const PeerRecord& old) { return old.peer_pubkey == peerPubkey; });
  if (removed > 0) write(phones);
}

void PendingUnpairs::write(const std::vector<PeerRecord>& phones) const {
  json::Value object = json::Value::object();
  for (const PeerRecord& phone : phones) object[phone.peer_pubkey] = phone.toJson();
  file_io::createDirectories(file_.parent_path());
  file_io::writeAtomically(file_, asBytes(json::encodePretty(object)));
}

std::filesystem::path pendingUnpairsFile() {
  return paths::applicationSupportDirectory() / PendingUnpairs::fileName;
}

}  // namespace ferrytide::cli
