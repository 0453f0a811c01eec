#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/peers/peer_store.h"
#include "core/support/crypto.h"

namespace ferrytide {

// The phone's stored key as a key, or nothing when it is not one.
std::optional<crypto::X25519PublicKey> publicKeyOf(const PeerRecord& peer);

// The keys of the phones in the peers file, read again only when the file changed. A receiver
// asks at the start of every connection, so that a phone paired or forgotten meanwhile (by
// another program, say) counts from its next connection on, for the cost of one stat.
// Thread-safe.
class PairedPhoneKeys {
 public:
  // With `selfPubkey` (this computer's key in Base64), phones paired with an earlier key of
  // this computer are left out: they could not finish a handshake anyway.
  explicit PairedPhoneKeys(PeerStore store, std::optional<std::string> selfPubkey = std::nullopt);

  // Throws PeerStoreError when the changed file cannot be read.
  std::vector<crypto::X25519PublicKey> current();

 private:
  struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    std::int64_t modifiedNs;
    std::int64_t changedNs;
    bool operator==(const FileStamp&) const = default;
  };

  // Nothing when the file cannot be examined (there is none, say): it is then read every time.
  static std::optional<FileStamp> stampOf(const std::filesystem::path& file);
  bool usable(const PeerRecord& peer) const;

  PeerStore store_;
  std::optional<std::string> selfPubkey_;
  std::mutex lock_;
  std::optional<FileStamp> loadedStamp_;
  std::vector<crypto::X25519PublicKey> keys_;
};

}  // namespace ferrytide
