#include "support/send_harness.h"

#include <asio/experimental/as_tuple.hpp>

#include "core/peers/peer_store.h"
#include "core/support/base64.h"
#include "core/transfer/receive_transfer.h"

namespace ferrytide::testing {
namespace {

using asio::ip::tcp;

// One connection: the handshake as the phone, then the script.
asio::awaitable<void> serveScripted(std::shared_ptr<tcp::acceptor> acceptor,
                                    crypto::X25519PrivateKey phoneKey, PhoneReplyScript script) {
  tcp::socket socket = co_await acceptor->async_accept(asio::use_awaitable);
  acceptor->close();
  WireConnection wire(std::move(socket));
  const Bytes prologue = toBytes(kFerrytidePrologue);
  ResponderSession session = co_await respondToHandshake(wire, phoneKey, prologue);
  co_await script(wire, session.framer);
}

}  // namespace

void resetConnection(WireConnection& wire) {
  asio::error_code ignored;
  wire.socket().set_option(asio::socket_base::linger(true, 0), ignored);
  wire.close();
}

asio::awaitable<void> readUntilClosed(WireConnection& wire) {
  try {
    for (;;) co_await wire.receiveLengthPrefixed();
  } catch (const WireConnection::Error&) {
  }
}

SendHarness::SendHarness() = default;

SendHarness::~SendHarness() {
  if (receiver && !receiverEnd) stopPhone();
}

void SendHarness::launchPhone(std::uint16_t port, std::optional<crypto::X25519PrivateKey> key) {
  ReceiverOptions options;
  options.idleTimeout = std::chrono::seconds(10);
  options.listenAddress = asio::ip::address_v4::loopback();
  options.peerStore = PeerStore(phoneState.path());
  options.activeTransfers = &transfers;
  receiver = std::make_unique<Receiver>(io.get_executor(), key ? *key : phoneKey,
                                        computerKey.publicKey(), phoneDownloads.path(), port,
                                        toBytes(kFerrytidePrologue), std::move(options));
  Receiver::Callbacks callbacks;
  callbacks.onTransfer = [this](const ReceivedFile& file) { received.push_back(file); };
  callbacks.onClipboard = [this](const std::string& text, const std::string& host) {
    clips.emplace_back(text, host);
  };
  callbacks.onSync = [this](const ProcessOutcome& outcome) { syncs.push_back(outcome); };
  callbacks.onError = [this](const std::exception& error) { phoneErrors.push_back(error.what()); };
  receiverEnd.reset();
  asio::co_spawn(io, receiver->run(std::move(callbacks)),
                 [this](std::exception_ptr failure) { receiverEnd = failure; });
}

void SendHarness::startPhone(std::uint16_t port, std::optional<crypto::X25519PrivateKey> key) {
  launchPhone(port, std::move(key));
  if (!runUntil([&] { return receiver->boundPort() || receiverEnd; })) {
    throw std::runtime_error("the receiver did not start");
  }
  if (!receiver->boundPort()) throw std::runtime_error("the receiver could not listen");
}

void SendHarness::stopPhone() {
  receiver->stop();
  runUntil([&] { return receiverEnd.has_value(); });
}

std::uint16_t SendHarness::phonePort() const { return *receiver->boundPort(); }

std::uint16_t SendHarness::startScriptedPhone(PhoneReplyScript script) {
  auto acceptor =
      std::make_shared<tcp::acceptor>(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  scriptedListeners_.push_back(acceptor);
  asio::co_spawn(io, serveScripted(acceptor, phoneKey, std::move(script)),
                 [this](std::exception_ptr failure) {
                   ++scriptsDone;
                   if (failure) scriptFailures.push_back(failureText(failure));
                 });
  return acceptor->local_endpoint().port();
}

PeerRecord SendHarness::phoneRecord(std::uint16_t port) const {
  PeerRecord record;
  record.peer_pubkey = base64::encode(phoneKey.publicKey().view());
  record.peer_ip = "127.0.0.1";
  record.peer_port = port;
  record.peer_subnet = "127.0.0.0/8";
  record.peer_hostname = "Test phone";
  record.paired_at_epoch_ms = 1733480000000;
  return record;
}

bool SendHarness::runUntil(const std::function<bool()>& done,
                           std::chrono::steady_clock::duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (io.stopped()) io.restart();
    io.run_one_until(deadline);
  }
  return true;
}

TaskOutcome<std::monostate> SendHarness::run(asio::awaitable<void> task) {
  auto outcome = std::make_shared<TaskOutcome<std::monostate>>();
  asio::co_spawn(io, std::move(task), [outcome](std::exception_ptr failure) {
    outcome->finished = true;
    if (failure) {
      outcome->failure = failure;
    } else {
      outcome->value.emplace();
    }
  });
  runUntil([&] { return outcome->finished; });
  return *outcome;
}

std::uint16_t SendHarness::unusedPort() {
  asio::io_context scratch;
  tcp::acceptor acceptor(scratch, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  return acceptor.local_endpoint().port();
}

}  // namespace ferrytide::testing
