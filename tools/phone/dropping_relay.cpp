#include "dropping_relay.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <array>
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

// A reset throws away whatever the relay's kernel still holds for the computer, so the cut
// would fall short of the limit by as much as the computer had not yet read. The kernel gives
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

DroppingRelay::DroppingRelay(asio::any_io_executor executor, std::string host, std::int64_t port,
                             std::int64_t limit)
    : acceptor_(executor, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
      host_(std::move(host)),
      hostPort_(port),
      limit_(limit),
      port_(acceptor_.local_endpoint().port()) {}

asio::awaitable<void> DroppingRelay::relayOne() {
  tcp::socket phone = co_await acceptor_.async_accept(asio::use_awaitable);
  tcp::socket computer = co_await openConnection(host_, hostPort_, kConnectTimeout);
  co_await (phoneToComputer(phone, computer) && computerToPhone(computer, phone));
  asio::error_code ignored;
  phone.close(ignored);
  computer.close(ignored);
}

asio::awaitable<void> DroppingRelay::phoneToComputer(tcp::socket& phone, tcp::socket& computer) {
  std::array<std::uint8_t, 64 * 1024> buffer{};
  while (forwarded_ < limit_) {
    auto [readError, read] = co_await phone.async_read_some(asio::buffer(buffer), asTuple);
    if (readError) {
      passOnEnd(readError, computer);
      co_return;
    }
    const auto allowed = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(read), limit_ - forwarded_));
    auto [writeError, written] =
        co_await asio::async_write(computer, asio::buffer(buffer.data(), allowed), asTuple);
    if (writeError) co_return;
    forwarded_ += static_cast<std::int64_t>(allowed);
  }
  // The network is gone: neither side hears another byte, and the computer has every byte up to
  // the limit, no more.
  co_await waitUntilAcknowledged(computer);
  reset(phone);
  reset(computer);
}

asio::awaitable<void> DroppingRelay::computerToPhone(tcp::socket& computer, tcp::socket& phone) {
  std::array<std::uint8_t, 64 * 1024> buffer{};
  for (;;) {
    auto [readError, read] = co_await computer.async_read_some(asio::buffer(buffer), asTuple);
    if (readError) {
      passOnEnd(readError, phone);
      co_return;
    }
    auto [writeError, written] =
        co_await asio::async_write(phone, asio::buffer(buffer.data(), read), asTuple);
    if (writeError) co_return;
  }
}

}  // namespace ferrytide::phone
