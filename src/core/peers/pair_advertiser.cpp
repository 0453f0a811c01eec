// What both publishers share: the advert's content and the outcome board. The publishing
// itself lives in pair_advertiser_avahi.cpp or, where there is no DNS-SD daemon client,
// pair_advertiser_noop.cpp.

#include "core/peers/pair_advertiser.h"

#include <stdexcept>

#include "core/peers/pair_code.h"
#include "core/support/log.h"

namespace ferrytide {

namespace {

constexpr std::string_view kServiceNamePrefix = "Ferrytide-pair-";
constexpr std::size_t kServiceNameHashChars = 6;
constexpr std::size_t kHostnameChars = 60;

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The first `count` characters of UTF-8 text: the cut falls before the lead byte of the
// character after them, never inside a multi-byte sequence.
std::string_view firstCharacters(std::string_view text, std::size_t count) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isContinuationByte(text[i])) continue;
    if (characters == count) return text.substr(0, i);
    ++characters;
  }
  return text;
}

}  // namespace

PairAdvert makePairAdvert(std::string_view peer_pubkey, std::string_view peer_ip,
                          std::string_view peer_subnet, std::string_view peer_hostname,
                          std::string_view peer_mac, std::string_view pairing_secret,
                          std::uint16_t port, std::string_view codeHash) {
  PairAdvert advert;
  advert.serviceName =
      std::string(kServiceNamePrefix) + std::string(codeHash.substr(0, kServiceNameHashChars));
  advert.port = port;
  advert.txt = {
      {"v", "1"},
      {"c", std::string(codeHash)},
      {"pk", std::string(peer_pubkey)},
      {"ip", std::string(peer_ip)},
      {"sn", std::string(peer_subnet)},
      {"hn", std::string(firstCharacters(peer_hostname, kHostnameChars))},
      {"mac", std::string(peer_mac)},
      {"sec", std::string(pairing_secret)},
      {"t", "mac"},
  };
  return advert;
}

PairAdvert makePairAdvert(const PairingPayload& payload, std::string_view code) {
  if (payload.peer_port < 0 || payload.peer_port > 65535) {
    throw std::invalid_argument("pairing payload port out of range");
  }
  return makePairAdvert(payload.peer_pubkey, payload.peer_ip, payload.peer_subnet,
                        payload.peer_hostname, payload.peer_mac, payload.pairing_secret,
                        static_cast<std::uint16_t>(payload.peer_port),
                        PairCode::hash(code, payload.peer_pubkey));
}

PairAdvertiser::Outcome PairAdvertiser::waitForOutcome(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [this] {
    return outcome_.state != State::idle && outcome_.state != State::publishing;
  });
  return outcome_;
}

void PairAdvertiser::settle(State state, std::string serviceName, std::string error) {
  {
    std::lock_guard lock(mutex_);
    outcome_ = Outcome{state, std::move(serviceName), std::move(error)};
  }
  changed_.notify_all();
}

void PairAdvertiser::reportFailure(const std::string& reason) {
  Logger("pair-advertiser").error("Ferrytide pair advert failed: " + reason);
  settle(State::failed, "", reason);
}

}  // namespace ferrytide
