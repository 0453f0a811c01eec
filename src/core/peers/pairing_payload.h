#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/peers/device_info.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/support/error.h"

namespace ferrytide {

class PairingError : public Error {
 public:
  enum class Kind { randomBytesFailed, encodingFailed, decodingFailed };

  static PairingError randomBytesFailed(std::int32_t status);
  static PairingError encodingFailed(const std::string& errorText);
  static PairingError decodingFailed(const std::string& errorText);

  Kind kind() const { return kind_; }
  // The random source's status for randomBytesFailed; zero for the other cases.
  std::int32_t status() const { return status_; }

 private:
  PairingError(Kind kind, std::string description, std::int32_t status = 0)
      : Error(std::move(description)), kind_(kind), status_(status) {}

  Kind kind_;
  std::int32_t status_;
};

// What the pairing QR code carries: where to reach this computer, its public key and a fresh
// secret. The QR code holds the JSON form byte for byte: compact, keys sorted, "/" unescaped.
//
//   {"pairing_secret":"3q2+7w...","peer_hostname":"Studio","peer_ip":"192.168.1.37",
//    "peer_mac":"0a:11:22:33:44:55","peer_port":47819,"peer_pubkey":"q83vEjRW...",
//    "peer_subnet":"192.168.1.0/24","version":1}
struct PairingPayload {
  static constexpr std::size_t secretByteCount = 32;

  std::int64_t version = 1;
  std::string peer_pubkey;     // Base64 of the 32 raw public-key bytes
  std::string peer_ip;         // dotted decimal
  std::int64_t peer_port = 0;  // the application passes 47819
  std::string peer_subnet;     // "192.168.1.0/24"
  std::string peer_hostname;   // the name shown to the phone
  std::string peer_mac;        // "0a:11:22:33:44:55"
  std::string pairing_secret;  // Base64 of 32 fresh random bytes

  // Version 1 with a new 32-byte secret; the key and the device values are used unchanged.
  // Throws PairingError (randomBytesFailed).
  static PairingPayload mint(const crypto::X25519PublicKey& publicKey, const DeviceInfo& device,
                             std::int64_t port);

  // `byteCount` bytes from the secure random source. Throws PairingError (randomBytesFailed).
  static Bytes generatePairingSecret(std::size_t byteCount);

  // Throws PairingError (encodingFailed), for example on a field that is not valid UTF-8.
  Bytes jsonData() const;
  std::string jsonString() const;

  // All eight keys with their JSON types are required; other keys are ignored.
  // Throws PairingError (decodingFailed).
  static PairingPayload decode(ByteView jsonData);

  bool operator==(const PairingPayload&) const = default;
};

}  // namespace ferrytide
