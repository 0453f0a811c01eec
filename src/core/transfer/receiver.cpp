#include "core/transfer/receiver.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <asio/experimental/as_tuple.hpp>
#include <sstream>
#include <utility>

#include "core/channel/tcp_keep_alive.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/support/base64.h"
#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/transfer/receive_error.h"
#include "core/transfer/receive_transfer.h"

namespace ferrytide {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);
constexpr const char* kStreamCompleted = "listener AsyncStream completed";
constexpr const char* kUnknownPeer = "(unknown peer)";

// A superseded connection gets this long to close its file before the new one goes on anyway.
constexpr auto kHandOverStep = 100ms;
constexpr int kHandOverChecks = 50;

const Logger& log() {
  static const Logger logger("receiver");
  return logger;
}


// "192.168.1.23:51234", "[::1]:51234". A phone that is already gone fails as a wire error.
std::string remoteEndpointText(const tcp::socket& socket) {
  asio::error_code error;
  tcp::endpoint endpoint = socket.remote_endpoint(error);
  if (error) throw ReceiveError::wire(error.message());
  std::ostringstream text;
  text << endpoint;
  return text.str();
}

// Errors that mean the listening socket itself is gone; every other accept error concerns
// one connection or a passing shortage (descriptors, memory) and is waited out.
bool listenerFailed(const asio::error_code& error) {
  return error == asio::error::operation_aborted || error == asio::error::bad_descriptor ||
         error == asio::error::invalid_argument || error == asio::error::not_socket ||
         error == asio::error::operation_not_supported;
}

bool containsKey(const std::vector<crypto::X25519PublicKey>& keys,
                 const crypto::X25519PublicKey& key) {
  return std::any_of(keys.begin(), keys.end(), [&](const crypto::X25519PublicKey& candidate) {
    return crypto::constantTimeEquals(candidate.view(), key.view());
  });
}

// A message the sender has no business sending, with its fields:
// Resume(transfer_id: "4F1C", accepted_offset: 5), Decline.
std::string describeMessage(const TransportMessage& message) {
  if (const auto* resume = std::get_if<msg::Resume>(&message)) {
    return "Resume(transfer_id: " + json::encodeCompact(json::Value(resume->transfer_id)) +
           ", accepted_offset: " + std::to_string(resume->accepted_offset) + ")";
  }
  return std::string(messageTypeName(message));
}

std::string describeFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown error";
  }
}

// Calls one of the application's callbacks; one that throws is logged and has no effect on
// the receiver.
template <typename Callback, typename... Args>
void notify(const Callback& callback, const Args&... args) {
  if (!callback) return;
  try {
    callback(args...);
  } catch (const std::exception& error) {
    log().error(std::string("a receiver callback failed: ") + error.what());
  } catch (...) {
    log().error("a receiver callback failed");
  }
}

void deliver(const ProcessOutcome& outcome, const Receiver::Callbacks& callbacks) {
  if (const auto* file = std::get_if<outcome::File>(&outcome)) {
    notify(callbacks.onTransfer, file->file);
  } else if (const auto* clipboard = std::get_if<outcome::Clipboard>(&outcome)) {
    notify(callbacks.onClipboard, clipboard->text, clipboard->peerHost);
  } else if (!std::holds_alternative<outcome::Declined>(outcome)) {
    notify(callbacks.onSync, outcome);
  }
}

void report(const std::exception_ptr& failure, const Receiver::Callbacks& callbacks) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    log().info(std::string("connection ended: ") + error.what());
    notify(callbacks.onError, error);
  } catch (...) {
    log().error("connection ended with an unknown error");
    notify(callbacks.onError, std::runtime_error("unknown error"));
  }
}

// A connection's claim on a transfer; given up when the connection ends, after its file.
class TransferClaim {
 public:
  TransferClaim(ActiveTransfers& transfers, std::string transferId,
                std::shared_ptr<ActiveTransfers::Connection> connection)
      : transfers_(transfers),
        transferId_(std::move(transferId)),
        connection_(std::move(connection)) {}
  TransferClaim(const TransferClaim&) = delete;
  TransferClaim& operator=(const TransferClaim&) = delete;
  ~TransferClaim() { transfers_.release(transferId_, *connection_); }

 private:
  ActiveTransfers& transfers_;
  std::string transferId_;
  std::shared_ptr<ActiveTransfers::Connection> connection_;
};

}  // namespace

// ---- errors

Receiver::Error Receiver::Error::listenerStartFailed(const std::string& text) {
  return Error(Kind::listenerStartFailed, "listener start failed: " + text);
}

Receiver::Error Receiver::Error::listenerStopped(const std::string& text) {
  return Error(Kind::listenerStopped, "listener stopped: " + text);
}

// ---- one connection

// Serves one phone from the handshake to its outcome. Lives in the connection's coroutine, on
// the connection's strand.
class Receiver::Connection {
 public:
  Connection(Receiver& receiver, tcp::socket socket, Hooks hooks)
      : receiver_(receiver),
        hooks_(std::move(hooks)),
        remoteEndpoint_(remoteEndpointText(socket)),
        wire_(std::make_shared<WireConnection>(std::move(socket))),
        self_(std::make_shared<ActiveTransfers::Connection>(cancellerFor(wire_))),
        file_(receiver.downloadsDir_, remoteEndpoint_) {
    // Without keep-alive the idle time-out still ends a silent connection.
    if (auto error = enableKeepAlive(wire_->socket())) {
      log().warning("could not enable TCP keep-alive: " + error.message());
    }
    wire_->setIdleTimeout(receiver.options_.idleTimeout);
  }

  // An outcome, or nothing for a phone that only brought a new token. A failed connection is
  // reset: a phone waiting after Done must not take the failure for a delivered file.
  asio::awaitable<std::optional<ProcessOutcome>> process() {
    try {
      co_return co_await processFrames();
    } catch (...) {
      wire_->abort();
      throw;
    }
  }

 private:
  asio::awaitable<std::optional<ProcessOutcome>> processFrames() {
    ResponderSession session =
        co_await respondToHandshake(*wire_, receiver_.staticKey_, receiver_.prologue_);
    framer_.emplace(std::move(session.framer));
    peerPubkey_ = base64::encode(session.remoteStaticPublicKey.view());

    if (containsKey(hooks_.removedPeerPubkeys, session.remoteStaticPublicKey)) {
      Bytes frame = seal(msg::Unpair{});
      co_await wire_->sendLengthPrefixed(frame);
      co_return outcome::UnpairReplied{peerPubkey_};
    }
    if (!containsKey(hooks_.expectedPeerPubkeys, session.remoteStaticPublicKey)) {
      throw ReceiveError::unauthorizedPeer();
    }

    Bytes buffer;  // each frame is received and opened here, chunk after chunk
    for (;;) {
      if (!co_await receiveFrameUnlessTokenOnly(buffer)) co_return std::nullopt;
      DecodedFrame frame = framer_->decode(std::move(buffer));
      if (Bytes* chunk = frame.asBinary()) {
        if (!file_.hasOpenPartial()) {
          throw ReceiveError::protocolViolation("binary frame before FileOffer");
        }
        file_.appendChunk(*chunk);
        buffer = std::move(*chunk);
        continue;
      }
      std::optional<ProcessOutcome> outcome = co_await handleMessage(*frame.asJSON());
      if (outcome) co_return std::move(*outcome);
    }
  }

  // Closes the connection from another one (a phone that reconnected to resume), on this
  // connection's own strand; does nothing once this connection has ended.
  static std::function<void()> cancellerFor(const std::shared_ptr<WireConnection>& wire) {
    return [executor = wire->socket().get_executor(), weak = std::weak_ptr(wire)] {
      asio::post(executor, [weak] {
        if (auto live = weak.lock()) live->close();
      });
    };
  }

  Bytes seal(const TransportMessage& message) { return framer_->encodeJSON(message); }

  // Opening a partial and finishing a file flush to disk, which can take seconds for a large
  // file; on the receiver's file threads that holds up this connection only. The connection
  // waits meanwhile, so its file state is never used from two threads at once.
  template <typename Work>
  asio::awaitable<std::invoke_result_t<Work&>> onFileThread(Work work) {
    using Result = std::invoke_result_t<Work&>;
    asio::awaitable<Result> running = asio::co_spawn(
        receiver_.fileThreads_, [work]() mutable -> asio::awaitable<Result> { co_return work(); },
        asio::use_awaitable);
    co_return co_await std::move(running);
  }

  // The next frame into `into`. A phone that sends its new token on a connection of its own
  // closes it afterwards: that close is the normal end of such a connection, not a failure to
  // report, and gives false.
  asio::awaitable<bool> receiveFrameUnlessTokenOnly(Bytes& into) {
    try {
      co_await wire_->receiveLengthPrefixed(into);
      co_return true;
    } catch (const WireConnection::Error& error) {
      if (error.kind() != WireConnection::Error::Kind::eof || !tokenUpdated_ ||
          file_.hasOffer()) {
        throw;
      }
    }
    co_return false;
  }

  // An outcome ends the connection; nothing means read on.
  asio::awaitable<std::optional<ProcessOutcome>> handleMessage(const TransportMessage& message) {
    if (const auto* offer = std::get_if<msg::FileOffer>(&message)) {
      co_return co_await acceptOffer(*offer);
    }
    if (std::holds_alternative<msg::Done>(message)) {
      if (!file_.hasOffer())
        throw ReceiveError::protocolViolation("Done received without FileOffer");
      ReceivedFile finished = co_await onFileThread([this] { return file_.finish(); });
      co_return outcome::File{std::move(finished)};
    }
    if (std::holds_alternative<msg::Resume>(message) ||
        std::holds_alternative<msg::Decline>(message)) {
      throw ReceiveError::protocolViolation("unexpected " + describeMessage(message) +
                                            " from sender");
    }
    if (const auto* update = std::get_if<msg::TokenUpdate>(&message)) {
      updateToken(update->peer_fcm_token);
      tokenUpdated_ = true;
      co_return std::nullopt;
    }
    if (const auto* clipboard = std::get_if<msg::Clipboard>(&message)) {
      co_return outcome::Clipboard{clipboard->text, peerHost()};
    }
    if (const auto* setName = std::get_if<msg::SetName>(&message)) {
      co_return outcome::SetName{setName->name, peerPubkey_};
    }
    if (const auto* nameUpdate = std::get_if<msg::NameUpdate>(&message)) {
      co_return outcome::NameUpdate{nameUpdate->name, peerPubkey_};
    }
    co_return outcome::Unpair{peerPubkey_};
  }

  asio::awaitable<std::optional<ProcessOutcome>> acceptOffer(const msg::FileOffer& offer) {
    if (file_.hasOffer()) throw ReceiveError::protocolViolation("duplicate FileOffer");
    bool approved = true;
    if (hooks_.approveOffer) {
      asio::awaitable<bool> asking = hooks_.approveOffer(offer.name, offer.size, peerPubkey_);
      approved = co_await std::move(asking);
    }
    if (!approved) {
      Bytes frame = seal(msg::Decline{});
      co_await wire_->sendLengthPrefixed(frame);
      co_return outcome::Declined{offer.name};
    }
    file_.recordOffer(offer);
    co_await takeOver(offer.transfer_id);
    const msg::Resume resume = co_await onFileThread([this] {
      createSaveFolder();
      return file_.openPartial();
    });
    Bytes frame = seal(resume);
    co_await wire_->sendLengthPrefixed(frame);
    co_return std::nullopt;
  }

  // Claims the transfer; a connection that still holds it is cancelled and given a few
  // seconds to close the partial file.
  asio::awaitable<void> takeOver(const std::string& transferId) {
    ActiveTransfers& transfers = *receiver_.options_.activeTransfers;
    std::shared_ptr<ActiveTransfers::Connection> previous = transfers.claim(transferId, self_);
    claim_.emplace(transfers, transferId, self_);
    if (!previous) co_return;
    log().info("transfer " + transferId + " taken over from a previous connection");
    previous->cancel();
    asio::steady_timer timer(co_await asio::this_coro::executor);
    for (int check = 0; check < kHandOverChecks && !transfers.isReleased(*previous); ++check) {
      timer.expires_after(kHandOverStep);
      co_await timer.async_wait(asio::use_awaitable);
      // Superseded in turn while waiting.
      if (!wire_->socket().is_open()) throw ReceiveError::wire("connection cancelled");
    }
  }

  // A save folder that was removed while the receiver ran is made again.
  void createSaveFolder() {
    try {
      file_io::createDirectories(receiver_.downloadsDir_);
    } catch (const ferrytide::Error& error) {
      throw ReceiveError::fileWriteFailed(error.description());
    }
  }

  // Errors are logged and otherwise ignored: a lost token only delays the next wake-up.
  void updateToken(const std::string& token) {
    try {
      std::optional<PeerRecord> record = storedRecord();
      if (!record) {
        log().info("token update from a phone without a stored record");
        return;
      }
      receiver_.peerStore_.upsert(record->withFcmToken(token));
    } catch (const std::exception& error) {
      log().warning(std::string("could not store the phone's token: ") + error.what());
    }
  }

  std::string peerHost() {
    try {
      std::optional<PeerRecord> record = storedRecord();
      if (record) return record->peer_hostname;
    } catch (const std::exception& error) {
      log().warning(std::string("could not read the peers file: ") + error.what());
    }
    return kUnknownPeer;
  }

  std::optional<PeerRecord> storedRecord() const {
    PeerBook book = receiver_.peerStore_.loadBook();
    for (PeerRecord& record : book.peers) {
      if (record.peer_pubkey == peerPubkey_) return std::move(record);
    }
    return std::nullopt;
  }

  Receiver& receiver_;
  Hooks hooks_;
  std::string remoteEndpoint_;
  std::shared_ptr<WireConnection> wire_;
  std::shared_ptr<ActiveTransfers::Connection> self_;
  std::optional<TransportFramer> framer_;
  std::string peerPubkey_;
  bool tokenUpdated_ = false;
  // Declared before the file so that the claim is given up only after the file is closed.
  std::optional<TransferClaim> claim_;
  FileReceiveState file_;
};

// ---- the listener

struct Receiver::Listener {
  explicit Listener(const asio::any_io_executor& executor)
      : strand(asio::make_strand(executor)), acceptor(strand), pause(strand), drained(strand) {}

  asio::strand<asio::any_io_executor> strand;
  tcp::acceptor acceptor;
  asio::steady_timer pause;
  // Cancelled when the last connection in flight has ended.
  asio::steady_timer drained;
  int inFlight = 0;  // touched on the strand only
  std::atomic<bool> stopRequested{false};
  std::atomic<std::uint16_t> boundPort{0};
};

Receiver::Receiver(asio::any_io_executor executor, crypto::X25519PrivateKey staticKey,
                   std::vector<crypto::X25519PublicKey> expectedPeerPubkeys,
                   std::filesystem::path downloadsDir, std::uint16_t port, Bytes prologue,
                   ReceiverOptions options)
    : executor_(std::move(executor)),
      staticKey_(std::move(staticKey)),
      downloadsDir_(std::move(downloadsDir)),
      port_(port),
      prologue_(std::move(prologue)),
      options_(std::move(options)),
      peerStore_(options_.peerStore ? *options_.peerStore : PeerStore()),
      expectedPeerPubkeys_([keys = std::move(expectedPeerPubkeys)] { return keys; }),
      removedPeerPubkeys_([] { return std::vector<crypto::X25519PublicKey>{}; }),
      approveOffer_(
          [](std::string, std::int64_t, std::string) -> asio::awaitable<bool> { co_return true; }),
      listener_(std::make_shared<Listener>(executor_)) {}

Receiver::Receiver(asio::any_io_executor executor, crypto::X25519PrivateKey staticKey,
                   crypto::X25519PublicKey expectedPeerPubkey, std::filesystem::path downloadsDir,
                   std::uint16_t port, Bytes prologue, ReceiverOptions options)
    : Receiver(std::move(executor), std::move(staticKey),
               std::vector<crypto::X25519PublicKey>{std::move(expectedPeerPubkey)},
               std::move(downloadsDir), port, std::move(prologue), std::move(options)) {}

Receiver::~Receiver() = default;

void Receiver::setExpectedPeerPubkeys(ExpectedPeerPubkeys expectedPeerPubkeys) {
  std::lock_guard guard(hooksLock_);
  expectedPeerPubkeys_ = std::move(expectedPeerPubkeys);
}

void Receiver::setRemovedPeerPubkeys(RemovedPeerPubkeys removedPeerPubkeys) {
  std::lock_guard guard(hooksLock_);
  removedPeerPubkeys_ = std::move(removedPeerPubkeys);
}

void Receiver::setApproveOffer(ApproveOffer approveOffer) {
  std::lock_guard guard(hooksLock_);
  approveOffer_ = std::move(approveOffer);
}

Receiver::Hooks Receiver::currentHooks() const {
  ExpectedPeerPubkeys expected;
  RemovedPeerPubkeys removed;
  Hooks hooks;
  {
    std::lock_guard guard(hooksLock_);
    expected = expectedPeerPubkeys_;
    removed = removedPeerPubkeys_;
    hooks.approveOffer = approveOffer_;
  }
  // Called outside the lock: the application's functions may take locks of their own.
  if (expected) hooks.expectedPeerPubkeys = expected();
  if (removed) hooks.removedPeerPubkeys = removed();
  return hooks;
}

std::optional<std::uint16_t> Receiver::boundPort() const {
  std::uint16_t port = listener_->boundPort;
  if (port == 0) return std::nullopt;
  return port;
}

void Receiver::stop() {
  listener_->stopRequested = true;
  asio::post(listener_->strand, [listener = listener_] {
    asio::error_code ignored;
    listener->acceptor.close(ignored);
    listener->pause.cancel();
  });
}

asio::awaitable<void> Receiver::run(Callbacks callbacks) {
  auto shared = std::make_shared<const Callbacks>(std::move(callbacks));
  // The listener and its bookkeeping live on the receiver's strand, whoever awaits run().
  asio::awaitable<void> listening =
      asio::co_spawn(listener_->strand, listen(shared), asio::use_awaitable);
  co_await std::move(listening);
}

asio::awaitable<void> Receiver::listen(std::shared_ptr<const Callbacks> callbacks) {
  Listener& listener = *listener_;
  if (listener.stopRequested) throw Error::listenerStopped(kStreamCompleted);
  openAcceptor();
  notify(options_.onListening, listener.boundPort.load());

  auto retryDelay = options_.acceptRetryMin;
  while (!listener.stopRequested) {
    auto connectionExecutor = asio::any_io_executor(asio::make_strand(executor_));
    auto [error, socket] = co_await listener.acceptor.async_accept(connectionExecutor, asTuple);
    if (!error) {
      retryDelay = options_.acceptRetryMin;
      spawnConnection(std::move(socket), callbacks);
      continue;
    }
    if (listener.stopRequested || !listener.acceptor.is_open() || listenerFailed(error)) {
      log().info("listener ended: " + error.message());
      break;
    }
    log().warning(
        "accept failed: " + error.message() + "; accepting again after " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(retryDelay).count()) +
        " ms");
    notify(options_.onAcceptFailed, error.message());
    co_await pauseAfterAcceptError(retryDelay);
    retryDelay = std::min(retryDelay * 2, options_.acceptRetryMax);
  }

  asio::error_code ignored;
  listener.acceptor.close(ignored);
  co_await waitForConnections();
  listener.boundPort = 0;
  throw Error::listenerStopped(kStreamCompleted);
}

void Receiver::openAcceptor() {
  tcp::acceptor& acceptor = listener_->acceptor;
  const tcp::endpoint endpoint(options_.listenAddress, port_);
  asio::error_code error;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    asio::error_code ignored;
    acceptor.close(ignored);
    throw Error::listenerStartFailed(error.message());
  }
  listener_->boundPort = acceptor.local_endpoint().port();
  log().info("listening on port " + std::to_string(listener_->boundPort));
}

void Receiver::spawnConnection(tcp::socket socket, std::shared_ptr<const Callbacks> callbacks) {
  ++listener_->inFlight;
  auto executor = socket.get_executor();
  asio::co_spawn(executor, serveConnection(std::move(socket), std::move(callbacks)),
                 [listener = listener_](std::exception_ptr failure) {
                   // serveConnection reports its own errors; this is the last line.
                   if (failure) log().error("connection task failed: " + describeFailure(failure));
                   asio::post(listener->strand, [listener] {
                     if (--listener->inFlight == 0) listener->drained.cancel();
                   });
                 });
}

asio::awaitable<void> Receiver::pauseAfterAcceptError(std::chrono::steady_clock::duration delay) {
  listener_->pause.expires_after(delay);
  // Cut short by stop().
  [[maybe_unused]] auto [error] = co_await listener_->pause.async_wait(asTuple);
}

asio::awaitable<void> Receiver::waitForConnections() {
  Listener& listener = *listener_;
  while (listener.inFlight > 0) {
    listener.drained.expires_at(asio::steady_timer::time_point::max());
    [[maybe_unused]] auto [error] = co_await listener.drained.async_wait(asTuple);
  }
}

asio::awaitable<void> Receiver::serveConnection(tcp::socket socket,
                                                std::shared_ptr<const Callbacks> callbacks) {
  std::optional<ProcessOutcome> outcome;
  std::exception_ptr failure;
  try {
    // Ends (closing the socket and the file, giving up any claim) before the outcome is told.
    Connection connection(*this, std::move(socket), currentHooks());
    outcome = co_await connection.process();
  } catch (...) {
    failure = std::current_exception();
  }
  if (outcome) {
    deliver(*outcome, *callbacks);
  } else if (failure) {
    report(failure, *callbacks);
  }
}

}  // namespace ferrytide
