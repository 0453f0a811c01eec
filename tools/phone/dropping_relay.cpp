#include "dropping_relay.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <utility>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "core/transfer/send_transfer.h"

// g++ 12's false -Wmismatched-new-delete on Asio coroutine frames (see receive_transfer.cpp); it
// shows in builds with the sanitizers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::phone {
namespace {

using asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

constexpr auto kConnectTimeout = std::chrono::seconds(5);
constexpr auto kDeliveryTimeout = std::chrono::seconds(10);
constexpr auto kDeliveryCheck = std::chrono::milliseconds(1);

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);

void reset(tcp::socket& socket) {
  asio::error_code ignored;
  socket.set_option(asio::socket_base::linger(true, 0), ignored);
  socket.close(ignored);
}

// One side ended: the other sees the same end, an orderly close (which the sender waits for
// after Done) or a reset.
void passOnEnd(const asio::error_code& end, tcp::socket& socket) {
  if (end != asio::error::eof) {
    reset(socket);
    return;
  }
  asio::error_code ignored;
  socket.shutdown(tcp::socket::shutdown_send, ignored);
}

// Bytes written to `socket` that its peer has not acknowledged yet; 0 once it has them all (or
// once the connection is gone and nothing more can be delivered).
int unacknowledged(tcp::socket& socket) {
  int count = 0;
  if (::ioctl(socket.native_handle(), SIOCOUTQ, &count) != 0) return 0;
  return count;
}

// A reset throws away whatever the relay's kernel still holds for the receiving side, so the cut
// would fall short of the limit by as much as that side had not yet read. The kernel gives
// no event for "all acknowledged": the count is checked every millisecond, for a while.
asio::awaitable<void> waitUntilAcknowledged(tcp::socket& socket) {
  asio::steady_timer timer(socket.get_executor());
  const auto deadline = std::chrono::steady_clock::now() + kDeliveryTimeout;
  while (unacknowledged(socket) > 0 && std::chrono::steady_clock::now() < deadline) {
    timer.expires_after(kDeliveryCheck);
    auto [error] = co_await timer.async_wait(asTuple);
    if (error) co_return;
  }
}
}  // namespace

std::optional<CutKind> cutKindNamed(const std::string& name) {
  for (CutKind kind : {CutKind::reset, CutKind::close, CutKind::stall}) {
    if (name == cutKindName(kind)) return kind;
  }
  return std::nullopt;
}

const char* cutKindName(CutKind kind) {
  switch (kind) {
    case CutKind::reset:
      return "reset";
    case CutKind::close:
      return "close";
    case CutKind::stall:
      return "stall";
  }
  return "reset";
}

struct DroppingRelay::Link {
  tcp::socket sending;
  tcp::socket receiving;
  bool cut = false;  // this connection is the one cut
  bool stalled = false;
};

DroppingRelay::DroppingRelay(asio::any_io_executor executor, std::string host, std::int64_t port,
                             Cut cut, tcp::endpoint listenAt)
    : acceptor_(executor, listenAt),
      host_(std::move(host)),
      hostPort_(port),
      cut_(cut),
      port_(acceptor_.local_endpoint().port()) {}

asio::awaitable<void> DroppingRelay::relayOne() {
  tcp::socket sending = co_await acceptor_.async_accept(asio::use_awaitable);
  co_await relay(std::move(sending), true);
}

asio::awaitable<void> DroppingRelay::relayAll() {
  bool first = true;
  for (;;) {
    auto [error, sending] = co_await acceptor_.async_accept(asTuple);
    if (error) co_return;  // stopped
    asio::co_spawn(acceptor_.get_executor(), relay(std::move(sending), std::exchange(first, false)),
                   [](std::exception_ptr) {});  // a receiving side that is gone: nothing to pass
  }
}

void DroppingRelay::stop() {
  asio::error_code ignored;
  acceptor_.close(ignored);
}

asio::awaitable<void> DroppingRelay::relay(tcp::socket sending, bool cut) {
  tcp::socket receiving = co_await openConnection(host_, hostPort_, kConnectTimeout);
  Link link{std::move(sending), std::move(receiving), cut};
  co_await (sendingToReceiving(link) && receivingToSending(link));
  asio::error_code ignored;
  link.sending.close(ignored);
  link.receiving.close(ignored);
}

asio::awaitable<void> DroppingRelay::sendingToReceiving(Link& link) {
  std::array<std::uint8_t, 64 * 1024> buffer{};
  while (!link.cut || forwarded_ < cut_.after) {
    auto [readError, read] = co_await link.sending.async_read_some(asio::buffer(buffer), asTuple);
    if (readError) {
      passOnEnd(readError, link.receiving);
      co_return;
    }
    auto allowed = static_cast<std::int64_t>(read);
    if (link.cut) allowed = std::min(allowed, cut_.after - forwarded_);
    auto [writeError, written] = co_await asio::async_write(
        link.receiving, asio::buffer(buffer.data(), static_cast<std::size_t>(allowed)), asTuple);
    if (writeError) co_return;
    if (link.cut) forwarded_ += allowed;
  }
  co_await endAtCut(link);
}

// The network is gone: the receiving side has every byte up to the limit, no more.
asio::awaitable<void> DroppingRelay::endAtCut(Link& link) {
  if (onCut_) onCut_(forwarded_);
  switch (cut_.kind) {
    case CutKind::reset:
      // Neither side hears another byte.
      co_await waitUntilAcknowledged(link.receiving);
      reset(link.sending);
      reset(link.receiving);
      break;
    case CutKind::close: {
      // The receiving side's answer to the close (its own close or a reset) reaches the sending
      // side through the other direction.
      asio::error_code ignored;
      link.receiving.shutdown(tcp::socket::shutdown_send, ignored);
      break;
    }
    case CutKind::stall:
      // Nothing is read from the sending side any more; the other direction drops what comes.
      link.stalled = true;
      break;
  }
}

asio::awaitable<void> DroppingRelay::receivingToSending(Link& link) {
  std::array<std::uint8_t, 64 * 1024> buffer{};
  for (;;) {
    auto [readError, read] = co_await link.receiving.async_read_some(asio::buffer(buffer), asTuple);
    if (readError) {
      // After a stall the bytes held back would meet a closed socket: the sending side gets a
      // reset however the receiving side ended (a killed process closes in order).
      if (link.stalled) {
        reset(link.sending);
      } else {
        passOnEnd(readError, link.sending);
      }
      co_return;
    }
    if (link.stalled) continue;
    auto [writeError, written] =
        co_await asio::async_write(link.sending, asio::buffer(buffer.data(), read), asTuple);
    if (writeError) co_return;
  }
}

}  // namespace ferrytide::phone
