#pragma once

// Phones forgotten on this computer that have not been told yet. `forget` records a phone here
// when it was not asked to tell it, or when telling failed; `receive` answers such a phone's next
// connection with Unpair and then drops its entry. Stored as "pending-unpairs.json" in the state
// folder: an object from a phone's "peer_pubkey" to its whole peer record, because the phone is
// already gone from the peer file when its notice is delivered.

#include <filesystem>
#include <string>
#include <vector>

#include "core/peers/peer_record.h"

namespace ferrytide::cli {

class PendingUnpairs {
 public:
  static constexpr std::string_view fileName = "pending-unpairs.json";

  explicit PendingUnpairs(std::filesystem::path file);

  // The notices, in key order. An unreadable file counts as empty (and is replaced by the
  // next write), so that a damaged file never stops the receiver.
  std::vector<PeerRecord> load() const;
  void add(const PeerRecord& phone) const;
  void remove(const std::string& peerPubkey) const;

 private:
  void write(const std::vector<PeerRecord>& phones) const;

  std::filesystem::path file_;
};

std::filesystem::path pendingUnpairsFile();

}  // namespace ferrytide::cli
