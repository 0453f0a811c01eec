#pragma once

#include <cstdint>
#include <string>

#include "core/peers/peer_record.h"
#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

// What a phone tells about itself when it pairs: the plaintext of its sealed introduction, a
// UTF-8 JSON object whose keys are all optional.
//
//   {"peer_android":"Android 14","peer_fcm_token":"dGVzdC10b2tlbg","peer_hostname":"Pixel 8",
//    "peer_ip":"192.168.1.23","peer_port":47820,
//    "peer_pubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=","peer_subnet":"192.168.1.0/24"}
struct PhoneIntroduction {
  // Stands in for a missing or non-string name, address or subnet.
  static constexpr const char* missingText = "\u2014";

  class Error : public ferrytide::Error {
   public:
    enum class Kind { notJson };

    // The description is the parser's own text.
    static Error notJson(const std::string& text);

    Kind kind() const { return kind_; }

   private:
    Error(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  std::string hostname;
  std::string ip;
  std::int64_t port = 0;
  std::string subnet;
  std::string pubkeyB64;
  std::string fcmToken;
  std::string android;

  // Reads the keys with their defaults ("peer_port" falls back to `defaultPort`, the port the
  // computer offered). JSON that is not an object counts as an empty object; bytes that are not
  // JSON throw Error::notJson.
  static PhoneIntroduction decode(ByteView plaintext, std::int64_t defaultPort);

  // The phone's raw static public key; empty when "peer_pubkey" is not valid Base64, so the
  // confirmation codes on the two screens simply differ.
  Bytes pubkeyBytes() const;

  // The peer record stored once the user confirms the codes. The phone's MAC address is not
  // part of the introduction and stays empty.
  PeerRecord toPeerRecord(const std::string& selfPubkeyB64, std::int64_t pairedAtEpochMs) const;

  bool operator==(const PhoneIntroduction&) const = default;
};

}  // namespace ferrytide
