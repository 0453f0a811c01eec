#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/support/json.h"

namespace ferrytide {

// A paired phone. Its identity is "peer_pubkey", the Base64 of its 32-byte X25519 static key.
//
//   {"paired_at_epoch_ms":1733480000000,"peer_android":"Android 14","peer_fcm_token":"",
//    "peer_hostname":"Pixel 8","peer_ip":"192.168.1.23","peer_mac":"","peer_port":47820,
//    "peer_pubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=","peer_subnet":"192.168.1.0/24",
//    "self_pubkey":"..."}
struct PeerRecord {
  std::string peer_pubkey;
  std::string peer_ip;
  std::int64_t peer_port = 0;
  std::string peer_subnet;
  std::string peer_hostname;
  std::string peer_mac;
  std::int64_t paired_at_epoch_ms = 0;
  std::string self_pubkey;     // may be absent in the file: empty
  std::string peer_fcm_token;  // may be absent in the file: empty
  std::string peer_android;    // may be absent in the file: empty

  PeerRecord withFcmToken(std::string token) const;
  PeerRecord withHostname(std::string name) const;

  // All ten keys.
  json::Value toJson() const;
  // The first seven keys are required; throws json::DecodeError.
  static PeerRecord fromJson(const json::Value& value);

  bool operator==(const PeerRecord&) const = default;
};

// Every paired phone, in order: a record added or updated moves to the end.
struct PeerBook {
  std::vector<PeerRecord> peers;

  json::Value toJson() const;
  static PeerBook fromJson(const json::Value& value);

  bool operator==(const PeerBook&) const = default;
};

}  // namespace ferrytide
