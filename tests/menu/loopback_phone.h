#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/peers/peer_record.h"
#include "core/support/base64.h"
#include "core/transfer/receiver.h"
#include "core/transfer/send_error.h"
#include "menu/services/one_off_network.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"

namespace ferrytide::testing {

// One-off sends with short time-outs and no wake: a phone that is not reachable stays so.
inline menu::OneOffNetwork quickOneOffNetwork(const std::filesystem::path& keyFolder) {
  using namespace std::chrono_literals;
  menu::OneOffNetwork network{.keyVault = KeyVault(keyFolder), .oneOff = {}};
  network.oneOff.warmConnectTimeout = 300ms;
  network.oneOff.replyWindow = 300ms;
  network.oneOff.wake = [](std::string) -> asio::awaitable<void> {
    throw SendError::network("no wake in tests");
    co_return;
  };
  return network;
}

struct LoopbackPhoneOptions {
  // The phone has forgotten the computer and answers it with Unpair.
  bool forgotComputer = false;
  crypto::X25519PrivateKey key = crypto::X25519PrivateKey::generate();
  // 0: any free port.
  std::uint16_t port = 0;
};

// A phone listening on 127.0.0.1 for the computer's one-off messages: the core's receiver
// with a key of its own, on a network thread of its own, recording what arrives.
class LoopbackPhone {
 public:
  using Options = LoopbackPhoneOptions;

  explicit LoopbackPhone(const crypto::X25519PublicKey& computer, Options options = {})
      : key_(options.key),
        receiver_(io_.get_executor(), key_, computer, folder_.path(), options.port,
                  toBytes(kFerrytidePrologue), receiverOptions(folder_.path())) {
    if (options.forgotComputer) {
      receiver_.setRemovedPeerPubkeys([computer] { return std::vector{computer}; });
    }
    Receiver::Callbacks callbacks;
    callbacks.onSync = [this](const ProcessOutcome& outcome) { record(outcome); };
    callbacks.onClipboard = [this](const std::string& text, const std::string& host) {
      record(outcome::Clipboard{text, host});
    };
    asio::co_spawn(io_, receiver_.run(callbacks), [this](std::exception_ptr failure) {
      if (failure) stopped_ = true;
    });
    thread_ = std::thread([this] { io_.run(); });
    while (!receiver_.boundPort() && !stopped_) std::this_thread::yield();
    if (stopped_) {
      io_.stop();
      thread_.join();
      throw std::runtime_error("the phone could not listen");
    }
  }
  ~LoopbackPhone() {
    receiver_.stop();
    io_.stop();
    thread_.join();
  }

  // The phone as the computer's peer file holds it.
  PeerRecord record(const std::string& name = "Pixel") const {
    return recordOf(key_, *receiver_.boundPort(), name);
  }
  // The same before the phone is listening (or after it left).
  static PeerRecord recordOf(const crypto::X25519PrivateKey& key, std::uint16_t port,
                             const std::string& name = "Pixel") {
    PeerRecord peer = phoneRecord(name, base64::encode(key.publicKey().view()), "127.0.0.1");
    peer.peer_port = port;
    return peer;
  }
  // A phone of a key of its own that nobody listens for.
  static PeerRecord unreachable(const std::string& name) {
    return recordOf(crypto::X25519PrivateKey::generate(), freeLoopbackPort(), name);
  }
  // The names of the files received whole, sorted.
  std::vector<std::string> savedFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name.find(".partial") == std::string::npos) {
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<ProcessOutcome> outcomes() const {
    std::lock_guard guard(lock_);
    return outcomes_;
  }

 private:
  static ReceiverOptions receiverOptions(const std::filesystem::path& folder) {
    ReceiverOptions options;
    options.listenAddress = asio::ip::make_address("127.0.0.1");
    options.peerStore = PeerStore(folder / "peers");
    return options;
  }
  void record(ProcessOutcome outcome) {
    std::lock_guard guard(lock_);
    outcomes_.push_back(std::move(outcome));
  }

  asio::io_context io_;
  TempDir folder_;
  crypto::X25519PrivateKey key_;
  Receiver receiver_;
  std::thread thread_;
  std::atomic<bool> stopped_ = false;
  mutable std::mutex lock_;
  std::vector<ProcessOutcome> outcomes_;
};

}  // namespace ferrytide::testing
