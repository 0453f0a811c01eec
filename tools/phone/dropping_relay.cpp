#include "dropping_relay.h"

#include <array>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "core/transfer/send_transfer.h"

namespace ferrytide::phone {
namespace {

using asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

constexpr auto kConnectTimeout = std::chrono::seconds(5);

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
  // The network is gone: neither side hears another byte.
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
