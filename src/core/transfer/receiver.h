#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/channel/noise_handshake.h"
#include "core/peers/peer_store.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/support/error.h"
#include "core/transfer/active_transfers.h"
#include "core/transfer/process_outcome.h"
#include "core/transfer/received_file.h"

namespace ferrytide {

struct ReceiverOptions {
  // A connection on which nothing arrives for this long is closed.
  std::chrono::steady_clock::duration idleTimeout = std::chrono::seconds(60);
  // Where to listen; the default is every IPv4 interface.
  asio::ip::address listenAddress = asio::ip::address_v4::any();
  // Where token updates are stored and phone names looked up; absent: the default peers file.
  std::optional<PeerStore> peerStore;
  // Hand-over of resumed transfers between connections; must outlive the receiver.
  ActiveTransfers* activeTransfers = &ActiveTransfers::shared();
  // Called on the receiver's executor once listening, with the bound port.
  std::function<void(std::uint16_t)> onListening;
  // Told the system's description of every failed accept, for diagnostics.
  std::function<void(const std::string&)> onAcceptFailed;
  // After a failed accept (for example when the process is out of file descriptors) the
  // listener pauses this long, doubling up to acceptRetryMax, and accepts again.
  std::chrono::steady_clock::duration acceptRetryMin = std::chrono::milliseconds(100);
  std::chrono::steady_clock::duration acceptRetryMax = std::chrono::seconds(1);
};

// The long-lived server: listens on one TCP port and serves each phone connection in a
// coroutine of its own: Noise XX as responder, the phone's key checked against the paired
// phones, then one exchange (a file, a clipboard text or a control message).
//
// A receiver runs once and must outlive the coroutine of run(). The phones it accepts can change
// while it runs (setExpectedPeerPubkeys), without ending the transfers in flight.
class Receiver {
 public:
  class Error : public ferrytide::Error {
   public:
    enum class Kind { listenerStartFailed, listenerStopped };

    static Error listenerStartFailed(const std::string& text);  // "listener start failed: "
    static Error listenerStopped(const std::string& text);      // "listener stopped: "

    Kind kind() const { return kind_; }

   private:
    Error(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  // Called from the network thread. None is required.
  struct Callbacks {
    std::function<void(const ReceivedFile& file)> onTransfer;
    std::function<void(const std::string& text, const std::string& peerHost)> onClipboard;
    // SetName, NameUpdate, Unpair and UnpairReplied.
    std::function<void(const ProcessOutcome& outcome)> onSync;
    // A connection that ended with an error; the listener goes on.
    std::function<void(const std::exception& error)> onError;
  };

  // The paired phones, whose connections are accepted.
  using ExpectedPeerPubkeys = std::function<std::vector<crypto::X25519PublicKey>()>;
  // Phones unpaired here that have not been told yet.
  using RemovedPeerPubkeys = std::function<std::vector<crypto::X25519PublicKey>()>;
  // Asked before a file is accepted: name, size, the phone's key in Base64.
  using ApproveOffer = std::function<asio::awaitable<bool>(std::string name, std::int64_t size,
                                                           std::string peerPubkeyBase64)>;

  Receiver(asio::any_io_executor executor, crypto::X25519PrivateKey staticKey,
           std::vector<crypto::X25519PublicKey> expectedPeerPubkeys,
           std::filesystem::path downloadsDir, std::uint16_t port,
           Bytes prologue = toBytes(kFerrytidePrologue), ReceiverOptions options = {});
  Receiver(asio::any_io_executor executor, crypto::X25519PrivateKey staticKey,
           crypto::X25519PublicKey expectedPeerPubkey, std::filesystem::path downloadsDir,
           std::uint16_t port, Bytes prologue = toBytes(kFerrytidePrologue),
           ReceiverOptions options = {});
  ~Receiver();

  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // From any thread. Each is read once at the start of every connection, so a change applies
  // to the connections that start after it; one already past the key check goes on. The
  // functions are called on the network thread, by several connections at once when the
  // executor has several threads. Defaults: the keys given to the constructor; nobody removed;
  // every offer approved. The application passes the new keys when its phones change:
  // setExpectedPeerPubkeys([keys] { return keys; }).
  void setExpectedPeerPubkeys(ExpectedPeerPubkeys expectedPeerPubkeys);
  void setRemovedPeerPubkeys(RemovedPeerPubkeys removedPeerPubkeys);
  void setApproveOffer(ApproveOffer approveOffer);

  // Listens and serves until stop() or a failure of the listening socket, waits for the
  // connections in flight, and then always throws: Error::listenerStartFailed when it could
  // not listen, else Error::listenerStopped("listener AsyncStream completed"). A failed accept
  // does not end it.
  asio::awaitable<void> run(Callbacks callbacks);

  // From any thread: stops accepting at once. Connections in flight finish first.
  void stop();

  // The listening port once listening (tests listen on port 0); nothing before.
  std::optional<std::uint16_t> boundPort() const;

 private:
  struct Listener;
  struct Hooks {
    std::vector<crypto::X25519PublicKey> expectedPeerPubkeys;
    std::vector<crypto::X25519PublicKey> removedPeerPubkeys;
    ApproveOffer approveOffer;
  };
  class Connection;

  static constexpr std::size_t kFileThreads = 4;

  asio::awaitable<void> listen(std::shared_ptr<const Callbacks> callbacks);
  void openAcceptor();
  void spawnConnection(asio::ip::tcp::socket socket, std::shared_ptr<const Callbacks> callbacks);
  asio::awaitable<void> pauseAfterAcceptError(std::chrono::steady_clock::duration delay);
  asio::awaitable<void> waitForConnections();
  asio::awaitable<void> serveConnection(asio::ip::tcp::socket socket,
                                        std::shared_ptr<const Callbacks> callbacks);
  Hooks currentHooks() const;

  asio::any_io_executor executor_;
  crypto::X25519PrivateKey staticKey_;
  std::filesystem::path downloadsDir_;
  std::uint16_t port_;
  Bytes prologue_;
  ReceiverOptions options_;
  PeerStore peerStore_;
  // Blocking file work of the connections (flushes to disk).
  asio::thread_pool fileThreads_{kFileThreads};

  mutable std::mutex hooksLock_;
  ExpectedPeerPubkeys expectedPeerPubkeys_;
  RemovedPeerPubkeys removedPeerPubkeys_;
  ApproveOffer approveOffer_;

  std::shared_ptr<Listener> listener_;
};

}  // namespace ferrytide
