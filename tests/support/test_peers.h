#pragma once

#include <cstdint>
#include <string>

#include "core/peers/peer_record.h"

namespace ferrytide::testing {

inline const std::string kKeyA = "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=";
inline const std::string kKeyB = "Q83xAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
inline const std::string kKeyC = "3q2+796tvu/erb7v3q2+796tvu/erb7v3q2+796tvu8=";

// A paired phone as the peer file holds it.
inline PeerRecord phoneRecord(const std::string& name, const std::string& key,
                              const std::string& ip = "192.168.1.23",
                              std::int64_t pairedAt = 1733480000000,
                              const std::string& android = "Android 14") {
  return PeerRecord{.peer_pubkey = key,
                    .peer_ip = ip,
                    .peer_port = 47820,
                    .peer_subnet = "192.168.1.0/24",
                    .peer_hostname = name,
                    .peer_mac = "",
                    .paired_at_epoch_ms = pairedAt,
                    .self_pubkey = "",
                    .peer_fcm_token = "",
                    .peer_android = android};
}

}  // namespace ferrytide::testing
