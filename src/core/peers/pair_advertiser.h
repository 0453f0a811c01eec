#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/peers/pairing_payload.h"

namespace ferrytide {

// What an open pairing announces on the local network for the typed code: a DNS-SD service of
// type "_ferrytide-pair._tcp." in "local." whose TXT record carries the pairing payload, so that
// a phone can find the computer whose "c" entry matches the four digits its user typed.
//
//   name  "Ferrytide-pair-3f9a1c"   port 47819
//   TXT   "v=1" "c=3f9a1c0b7d2e4a55" "pk=<Base64 key>" "ip=192.168.1.20" "sn=192.168.1.0/24"
//         "hn=Studio" "mac=a4:83:e7:12:34:56" "sec=<Base64 secret>" "t=mac"
struct PairAdvert {
  std::string serviceName;
  std::uint16_t port = 0;
  // Key and value of each TXT entry, in the order they are published.
  std::vector<std::pair<std::string, std::string>> txt;

  bool operator==(const PairAdvert&) const = default;
};

// The advert of an open pairing, from the pairing payload's fields and the pair hash of the
// typed code with `peer_pubkey`. "hn" keeps the first 60 characters of the host name.
PairAdvert makePairAdvert(std::string_view peer_pubkey, std::string_view peer_ip,
                          std::string_view peer_subnet, std::string_view peer_hostname,
                          std::string_view peer_mac, std::string_view pairing_secret,
                          std::uint16_t port, std::string_view codeHash);

// The advert of an open pairing for `payload` and the typed `code` on show.
PairAdvert makePairAdvert(const PairingPayload& payload, std::string_view code);

// Publishes one `PairAdvert` through the system's DNS-SD daemon for as long as a pairing is
// open. Publishing runs on a thread of its own; start() and stop() return without waiting for
// the network. A failure to publish is logged as "Ferrytide pair advert failed: " and the
// reason, and pairing goes on without the advert (the QR code still works). Nothing throws.
// start(), stop() and destruction belong to the owner's thread; waitForOutcome() to any.
class PairAdvertiser {
 public:
  static constexpr std::string_view serviceType = "_ferrytide-pair._tcp";
  static constexpr std::string_view domain = "local";

  enum class State {
    idle,         // not started
    publishing,   // registering the service (again, after a name collision)
    established,  // published under `Outcome::serviceName`
    failed,       // not published; `Outcome::error` says why (it was logged)
    stopped,      // withdrawn for good
  };

  struct Outcome {
    State state = State::idle;
    // The name actually published: the advert's, or an alternative after a name collision.
    std::string serviceName;
    std::string error;
  };

  // Whether this build can publish at all (it has a DNS-SD daemon client).
  static bool isSupported();

  explicit PairAdvertiser(const PairAdvert& advert);
  PairAdvertiser(const PairAdvertiser&) = delete;
  PairAdvertiser& operator=(const PairAdvertiser&) = delete;
  // Stops.
  ~PairAdvertiser();

  // Starts publishing in the background. Only the first call does anything, and none after
  // stop(): a stopped advertiser cannot be restarted.
  void start();
  // Withdraws the service and frees everything; waits for the publishing thread to end.
  void stop();

  // Waits until the advert is established, has failed or was stopped, for at most `timeout`,
  // and returns the outcome then (still `publishing` or `idle` when the time ran out).
  Outcome waitForOutcome(std::chrono::milliseconds timeout) const;

 private:
  struct Publisher;  // the DNS-SD side; each build has one

  void settle(State state, std::string serviceName, std::string error);
  void reportFailure(const std::string& reason);

  PairAdvert advert_;
  std::unique_ptr<Publisher> publisher_;
  bool started_ = false;
  bool stopped_ = false;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Outcome outcome_;
};

}  // namespace ferrytide
