#include "core/peers/pairing_payload.h"

#include "core/support/base64.h"
#include "core/support/json.h"

namespace ferrytide {

PairingError PairingError::randomBytesFailed(std::int32_t status) {
  return PairingError(Kind::randomBytesFailed,
                      "system random generator failed (" + std::to_string(status) + ")", status);
}

PairingError PairingError::encodingFailed(const std::string& errorText) {
  return PairingError(Kind::encodingFailed, "JSON encode failed: " + errorText);
}

PairingError PairingError::decodingFailed(const std::string& errorText) {
  return PairingError(Kind::decodingFailed, "JSON decode failed: " + errorText);
}

namespace {
// The crypto layer reports no status of its own for a failed draw; this stands for it.
constexpr std::int32_t kRandomSourceFailed = -1;
}  // namespace

PairingPayload PairingPayload::mint(const crypto::X25519PublicKey& publicKey,
                                    const DeviceInfo& device, std::int64_t port) {
  PairingPayload payload;
  payload.version = 1;
  payload.peer_pubkey = base64::encode(publicKey.view());
  payload.peer_ip = device.ipv4;
  payload.peer_port = port;
  payload.peer_subnet = device.subnetCIDR;
  payload.peer_hostname = device.hostname;
  payload.peer_mac = device.macAddress;
  Bytes secret = generatePairingSecret(secretByteCount);
  payload.pairing_secret = base64::encode(secret);
  crypto::wipe(secret);
  return payload;
}

Bytes PairingPayload::generatePairingSecret(std::size_t byteCount) {
  Bytes secret(byteCount);
  try {
    crypto::fillRandom(secret);
  } catch (const crypto::CryptoError&) {
    throw PairingError::randomBytesFailed(kRandomSourceFailed);
  }
  return secret;
}

Bytes PairingPayload::jsonData() const {
  json::Value object = {
      {"version", version},         {"peer_pubkey", peer_pubkey},
      {"peer_ip", peer_ip},         {"peer_port", peer_port},
      {"peer_subnet", peer_subnet}, {"peer_hostname", peer_hostname},
      {"peer_mac", peer_mac},       {"pairing_secret", pairing_secret},
  };
  try {
    return toBytes(json::encodeCompact(object));
  } catch (const json::DecodeError& error) {
    throw PairingError::encodingFailed(error.description());
  }
}

// jsonData() writes valid UTF-8 or throws, so its bytes are the text as they are.
std::string PairingPayload::jsonString() const { return toString(jsonData()); }

PairingPayload PairingPayload::decode(ByteView jsonData) {
  try {
    json::Value object = json::requireObject(json::parse(jsonData));
    PairingPayload payload;
    payload.version = json::requireInt64(object, "version");
    payload.peer_pubkey = json::requireString(object, "peer_pubkey");
    payload.peer_ip = json::requireString(object, "peer_ip");
    payload.peer_port = json::requireInt64(object, "peer_port");
    payload.peer_subnet = json::requireString(object, "peer_subnet");
    payload.peer_hostname = json::requireString(object, "peer_hostname");
    payload.peer_mac = json::requireString(object, "peer_mac");
    payload.pairing_secret = json::requireString(object, "pairing_secret");
    return payload;
  } catch (const json::DecodeError& error) {
    throw PairingError::decodingFailed(error.description());
  }
}

}  // namespace ferrytide
