#pragma once

// The phone's half of a pairing: from the computer's payload to one sealed introduction on the
// wire and the four-digit confirmation code.

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/peers/pairing_payload.h"
#include "core/peers/peer_record.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/transfer/send_transfer.h"

namespace ferrytide::phone {

// What the phone tells the computer about itself.
struct PhoneProfile {
  std::string hostname;
  std::string ip;
  std::int64_t port = 0;
  std::string subnet;
  std::string fcmToken;
  std::string android;
};

// Everything one pairing attempt sends and shows.
struct PreparedPairing {
  Bytes introductionPlaintext;
  Bytes frame;  // the pairing frame: length prefix and sealed introduction
  std::string confirmationCode;
};

// The introduction's JSON with the phone's key in "peer_pubkey".
Bytes introductionPlaintext(const crypto::X25519PublicKey& phoneKey, const PhoneProfile& profile);

// Seals the introduction under the payload's secret. Throws PhoneError::payloadUnreadable when
// the secret or the computer's key is not valid Base64 of 32 bytes.
PreparedPairing preparePairing(const PairingPayload& payload,
                               const crypto::X25519PublicKey& phoneKey,
                               const PhoneProfile& profile);

// The computer as this phone stores it: the payload's fields, this phone's key as "self_pubkey".
PeerRecord computerRecord(const PairingPayload& payload, const crypto::X25519PublicKey& phoneKey,
                          std::int64_t pairedAtEpochMs);

// Reads a payload from JSON text. Throws PhoneError::payloadUnreadable.
PairingPayload payloadFromJson(std::string_view text);

// Connects, writes the frame, closes. Throws SendError::network.
asio::awaitable<void> deliverPairFrame(std::string host, std::int64_t port, Bytes frame,
                                       SendDuration connectTimeout);

// The payload of the advert whose "c" is the hash of `code` and its "pk", from the output of
// `avahi-browse -rp` (resolved lines start with "="). Nothing when none matches.
std::optional<PairingPayload> payloadFromAdverts(std::string_view browseOutput,
                                                 std::string_view code);

// Browses the pairing adverts, as a phone does while the user types the code, until one matches
// `code` or `timeout` passes (nothing then): adverts may still be on their way, and a resolve
// that never completes does not hold it up. Throws PhoneError::browseFailed when the browser
// cannot run or ends, as it does without a reachable avahi-daemon.
std::optional<PairingPayload> findPairAdvert(std::string_view code,
                                             std::chrono::milliseconds timeout);

}  // namespace ferrytide::phone
