#include "core/peers/peer_record.h"

#include <utility>

namespace ferrytide {

PeerRecord PeerRecord::withFcmToken(std::string token) const {
  PeerRecord copy = *this;
  copy.peer_fcm_token = std::move(token);
  return copy;
}

PeerRecord PeerRecord::withHostname(std::string name) const {
  PeerRecord copy = *this;
  copy.peer_hostname = std::move(name);
  return copy;
}

json::Value PeerRecord::toJson() const {
  return json::Value{
      {"peer_pubkey", peer_pubkey},
      {"peer_ip", peer_ip},
      {"peer_port", peer_port},
      {"peer_subnet", peer_subnet},
      {"peer_hostname", peer_hostname},
      {"peer_mac", peer_mac},
      {"paired_at_epoch_ms", paired_at_epoch_ms},
      {"self_pubkey", self_pubkey},
      {"peer_fcm_token", peer_fcm_token},
      {"peer_android", peer_android},
  };
}

// The port is kept as stored, even outside 0...65535: the file is ours, and the paths that
// connect to a phone check the range before using it.
PeerRecord PeerRecord::fromJson(const json::Value& value) {
  const json::Value& object = json::requireObject(value);
  PeerRecord record;
  record.peer_pubkey = json::requireString(object, "peer_pubkey");
  record.peer_ip = json::requireString(object, "peer_ip");
  record.peer_port = json::requireInt64(object, "peer_port");
  record.peer_subnet = json::requireString(object, "peer_subnet");
  record.peer_hostname = json::requireString(object, "peer_hostname");
  record.peer_mac = json::requireString(object, "peer_mac");
  record.paired_at_epoch_ms = json::requireInt64(object, "paired_at_epoch_ms");
  record.self_pubkey = json::optionalString(object, "self_pubkey").value_or("");
  record.peer_fcm_token = json::optionalString(object, "peer_fcm_token").value_or("");
  record.peer_android = json::optionalString(object, "peer_android").value_or("");
  return record;
}

json::Value PeerBook::toJson() const {
  json::Value records = json::Value::array();
  for (const PeerRecord& record : peers) records.push_back(record.toJson());
  return json::Value{{"peers", std::move(records)}};
}

PeerBook PeerBook::fromJson(const json::Value& value) {
  const json::Value& records = json::requireArray(json::requireObject(value), "peers");
  PeerBook book;
  for (std::size_t index = 0; index < records.size(); ++index) {
    try {
      book.peers.push_back(PeerRecord::fromJson(records[index]));
    } catch (const json::DecodeError& error) {
      // Say which record is damaged; the reason alone would not find it in a long list.
      throw json::DecodeError("peers[" + std::to_string(index) + "]: " + error.description());
    }
  }
  return book;
}

}  // namespace ferrytide
