#pragma once

#include <filesystem>
#include <string>

#include "core/peers/peer_record.h"
#include "core/peers/peer_store.h"
#include "core/support/crypto.h"

namespace ferrytide::phone {

// The emulated phone's folder: its static key ("noise_static.bin"), the paired computer
// ("peer.json"), its FCM token ("fcm_token"), the send journal ("inflight.json"), the pid of a
// running `serve` ("serve.pid") and its save folder ("received" unless chosen).
class PhoneState {
 public:
  explicit PhoneState(std::filesystem::path directory);

  const std::filesystem::path& directory() const { return directory_; }
  crypto::X25519PrivateKey staticKey() const;
  PeerStore peerStore() const { return PeerStore(directory_); }

  // The computer paired last. Throws PhoneError::notPaired.
  PeerRecord computer() const;
  void storeComputer(const PeerRecord& record) const;
  // Forgets every computer.
  void forgetComputers() const;

  // The token in "fcm_token", made (random, URL-safe) on first use.
  std::string fcmToken() const;
  void setFcmToken(const std::string& token) const;

  std::filesystem::path journalFile() const { return directory_ / "inflight.json"; }
  std::filesystem::path pidFile() const { return directory_ / "serve.pid"; }
  std::filesystem::path defaultSaveDir() const { return directory_ / "received"; }

 private:
  std::filesystem::path directory_;
};

}  // namespace ferrytide::phone
