#include "core/peers/paired_phone_keys.h"

#include <sys/stat.h>

#include "core/support/base64.h"

namespace ferrytide {

std::optional<crypto::X25519PublicKey> publicKeyOf(const PeerRecord& peer) {
  std::optional<Bytes> raw = base64::decode(peer.peer_pubkey);
  if (!raw) return std::nullopt;
  try {
    return crypto::X25519PublicKey::fromRaw(*raw);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

PairedPhoneKeys::PairedPhoneKeys(PeerStore store, std::optional<std::string> selfPubkey)
    : store_(std::move(store)), selfPubkey_(std::move(selfPubkey)) {}

std::vector<crypto::X25519PublicKey> PairedPhoneKeys::current() {
  std::lock_guard guard(lock_);
  // An atomic replacement gives the file a new inode; the times and size catch the rest.
  std::optional<FileStamp> stamp = stampOf(store_.fileURL());
  if (!stamp || stamp != loadedStamp_) {
    keys_.clear();
    for (const PeerRecord& peer : store_.loadBook().peers) {
      if (!usable(peer)) continue;
      if (std::optional<crypto::X25519PublicKey> key = publicKeyOf(peer)) keys_.push_back(*key);
    }
    loadedStamp_ = stamp;
  }
  return keys_;
}

bool PairedPhoneKeys::usable(const PeerRecord& peer) const {
  return !selfPubkey_ || peer.self_pubkey.empty() || peer.self_pubkey == *selfPubkey_;
}

std::optional<PairedPhoneKeys::FileStamp> PairedPhoneKeys::stampOf(
    const std::filesystem::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return std::nullopt;
  auto nanoseconds = [](const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
  };
  return FileStamp{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
                   nanoseconds(info.st_ctim)};
}

}  // namespace ferrytide
