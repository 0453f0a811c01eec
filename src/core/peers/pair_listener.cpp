#include "core/peers/pair_listener.h"

#include <array>
#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>
#include <sstream>

#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"

namespace ferrytide {
namespace {

using asio::ip::tcp;
constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);

// The phone's address as people write it; an IPv4 phone reaching a dual-stack socket shows as
// IPv4, not as a mapped IPv6 address.
std::string describe(const tcp::endpoint& endpoint) {
  asio::ip::address address = endpoint.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  std::ostringstream text;
  text << tcp::endpoint(address, endpoint.port());
  return text.str();
}

}  // namespace

PairListener::Error PairListener::Error::listenerStartFailed(const std::string& reason) {
  return Error(Kind::listenerStartFailed, "listener failed to start: " + reason);
}
PairListener::Error PairListener::Error::connectionFailed(const std::string& reason) {
  return Error(Kind::connectionFailed, "incoming connection failed: " + reason);
}
PairListener::Error PairListener::Error::readFailed(const std::string& reason) {
  return Error(Kind::readFailed, "read failed: " + reason);
}
PairListener::Error PairListener::Error::decryptFailed(const std::string& reason) {
  return Error(Kind::decryptFailed, "decrypt failed: " + reason);
}
PairListener::Error PairListener::Error::alreadyRunning() {
  return Error(Kind::alreadyRunning, "PairListener already running");
}
PairListener::Error PairListener::Error::timedOut() {
  return Error(Kind::timedOut, "pair-mode timeout");
}
PairListener::Error PairListener::Error::cancelled() { return Error(Kind::cancelled, "cancelled"); }

// Touched only on `strand`. The coroutines hold the state, not the PairListener, so a listener
// dropped mid-wait cancels and its coroutines end on their own.
struct PairListener::State {
  State(asio::any_io_executor executor, ByteView pairingSecret, std::uint16_t listenPort,
        Duration waitLimit, std::optional<asio::ip::address> address)
      : strand(asio::make_strand(std::move(executor))),
        key(PairCrypto::deriveAEADKey(pairingSecret)),
        port(listenPort),
        timeout(waitLimit),
        listenAddress(address),
        acceptor(strand),
        deadline(strand) {}

  static asio::awaitable<Result> run(std::shared_ptr<State> self);
  static asio::awaitable<Result> receive(std::shared_ptr<State> self);
  void listen();
  void notify(Step step) {
    if (observer) observer(step, localPort);
  }

  asio::strand<asio::any_io_executor> strand;
  crypto::SecretKey key;
  std::uint16_t port;
  Duration timeout;
  std::optional<asio::ip::address> listenAddress;
  tcp::acceptor acceptor;
  // Fires at the timeout; cancel() cancels it early, which ends the wait as cancelled.
  asio::steady_timer deadline;
  std::uint16_t localPort = 0;
  bool started = false;
  bool cancelled = false;
  Observer observer;
};

PairListener::PairListener(asio::any_io_executor executor, ByteView pairingSecret,
                           std::uint16_t port, Duration timeout,
                           std::optional<asio::ip::address> listenAddress)
    : state_(std::make_shared<State>(std::move(executor), pairingSecret, port, timeout,
                                     listenAddress)) {}

PairListener::~PairListener() { cancel(); }

asio::awaitable<PairListener::Result> PairListener::awaitIntroduction() {
  return asio::co_spawn(state_->strand, State::run(state_), asio::use_awaitable);
}

void PairListener::cancel() {
  asio::post(state_->strand, [state = state_] {
    state->cancelled = true;
    state->deadline.cancel();
  });
}

void PairListener::observe(Observer observer) {
  asio::post(state_->strand,
             [state = state_, observer = std::move(observer)] { state->observer = observer; });
}

asio::awaitable<PairListener::Result> PairListener::State::run(std::shared_ptr<State> self) {
  if (self->started) throw Error::alreadyRunning();
  self->started = true;
  if (self->cancelled) throw Error::cancelled();
  self->listen();

  // Whichever ends first ends the wait; the group then cancels the other and waits for it, so
  // later events find nothing to resume.
  self->deadline.expires_after(self->timeout);
  auto [order, failure, result, deadlineError] =
      co_await asio::experimental::make_parallel_group(
          asio::co_spawn(self->strand, receive(self), asio::experimental::deferred),
          self->deadline.async_wait(asio::experimental::deferred))
          .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  asio::error_code ignored;
  self->acceptor.close(ignored);

  if (order[0] == 1) {
    if (deadlineError == asio::error::operation_aborted) throw Error::cancelled();
    throw Error::timedOut();
  }
  if (failure) std::rethrow_exception(failure);
  co_return std::move(result);
}

void PairListener::State::listen() {
  tcp::endpoint endpoint =
      listenAddress ? tcp::endpoint(*listenAddress, port) : tcp::endpoint(tcp::v6(), port);
  asio::error_code error;
  acceptor.open(endpoint.protocol(), error);
  if (error == asio::error::address_family_not_supported && !listenAddress) {
    endpoint = tcp::endpoint(tcp::v4(), port);  // a system without IPv6
    acceptor.open(endpoint.protocol(), error);
  }
  if (!error && endpoint.address().is_v6()) acceptor.set_option(asio::ip::v6_only(false), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (!error) localPort = acceptor.local_endpoint(error).port();
  if (error) {
    asio::error_code ignored;
    acceptor.close(ignored);
    throw Error::listenerStartFailed(error.message());
  }
  notify(Step::listening);
}

asio::awaitable<PairListener::Result> PairListener::State::receive(std::shared_ptr<State> self) {
  // The phone's address comes with the accept: asking the socket later fails once the phone
  // has reset the connection, and that case must end as a read failure.
  tcp::endpoint remote;
  auto [acceptError, socket] = co_await self->acceptor.async_accept(remote, asTuple);
  if (acceptError) throw Error::connectionFailed(acceptError.message());
  asio::error_code ignored;
  self->acceptor.close(ignored);  // one phone only: a second connection is refused
  self->notify(Step::accepted);

  Result result;
  result.remoteEndpoint = describe(remote);

  std::array<std::uint8_t, PairWire::lengthPrefixBytes> prefix{};
  auto [prefixError, prefixCount] =
      co_await asio::async_read(socket, asio::buffer(prefix), asTuple);
  if (prefixError == asio::error::eof) throw Error::readFailed("prefix EOF");
  if (prefixError) throw Error::readFailed("prefix: " + prefixError.message());

  std::uint32_t length = 0;
  try {
    length = PairWire::parseLengthPrefix(prefix);
  } catch (const PairWire::Error& error) {
    throw Error::readFailed(std::string("bad length prefix: ") + error.what());
  }

  // At most 64 KiB, checked above, so the whole frame can be set aside at once.
  Bytes blob(length);
  auto [payloadError, payloadCount] =
      co_await asio::async_read(socket, asio::buffer(blob), asTuple);
  if (payloadError == asio::error::eof) throw Error::readFailed("payload short read");
  if (payloadError) throw Error::readFailed("payload: " + payloadError.message());

  try {
    result.phoneIntroductionPlaintext = PairCrypto::openIntroduction(blob, self->key);
  } catch (const PairCrypto::Error& error) {
    throw Error::decryptFailed(error.what());
  }
  co_return result;  // the connection closes with `socket`
}

}  // namespace ferrytide
