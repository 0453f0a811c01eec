#include "core/peers/phone_introduction.h"

#include <cmath>
#include <limits>

#include "core/support/base64.h"
#include "core/support/json.h"

namespace ferrytide {
namespace {

std::string stringOr(const json::Value& object, const char* key, const std::string& fallback) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

// Any JSON number counts, truncated towards zero; one that no 64-bit integer can hold is treated
// like a missing port rather than converted with undefined behaviour.
std::int64_t portOr(const json::Value& object, std::int64_t fallback) {
  auto it = object.find("peer_port");
  if (it == object.end()) return fallback;
  if (it->is_number_unsigned()) {
    auto value = it->get<std::uint64_t>();
    return value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(value)
               : fallback;
  }
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (it->is_number_float()) {
    double value = std::trunc(it->get<double>());
    // 2^63 is the first double above INT64_MAX; -2^63 is exactly INT64_MIN.
    if (value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
      return static_cast<std::int64_t>(value);
    }
  }
  return fallback;
}

}  // namespace

PhoneIntroduction::Error PhoneIntroduction::Error::notJson(const std::string& text) {
  return Error(Kind::notJson, text);
}

PhoneIntroduction PhoneIntroduction::decode(ByteView plaintext, std::int64_t defaultPort) {
  json::Value document;
  try {
    document = json::parse(plaintext);
  } catch (const json::DecodeError& error) {
    throw Error::notJson(error.what());
  }
  if (!document.is_object()) document = json::Value::object();

  PhoneIntroduction intro;
  intro.hostname = stringOr(document, "peer_hostname", missingText);
  intro.ip = stringOr(document, "peer_ip", missingText);
  intro.port = portOr(document, defaultPort);
  intro.subnet = stringOr(document, "peer_subnet", missingText);
  intro.pubkeyB64 = stringOr(document, "peer_pubkey", "");
  intro.fcmToken = stringOr(document, "peer_fcm_token", "");
  intro.android = stringOr(document, "peer_android", "");
  return intro;
}

Bytes PhoneIntroduction::pubkeyBytes() const { return base64::decode(pubkeyB64).value_or(Bytes{}); }

PeerRecord PhoneIntroduction::toPeerRecord(const std::string& selfPubkeyB64,
                                           std::int64_t pairedAtEpochMs) const {
  PeerRecord record;
  record.peer_pubkey = pubkeyB64;
  record.peer_ip = ip;
  record.peer_port = port;
  record.peer_subnet = subnet;
  record.peer_hostname = hostname;
  record.peer_mac = "";
  record.paired_at_epoch_ms = pairedAtEpochMs;
  record.self_pubkey = selfPubkeyB64;
  record.peer_fcm_token = fcmToken;
  record.peer_android = android;
  return record;
}

}  // namespace ferrytide
