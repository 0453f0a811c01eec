#include "support/socket_pair.h"

namespace ferrytide::testing {

std::pair<asio::ip::tcp::socket, asio::ip::tcp::socket> makeLoopbackPair(asio::io_context& io) {
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
  asio::ip::tcp::socket client(io);
  // The kernel completes the handshake into the listen backlog, so a blocking connect followed
  // by a blocking accept cannot wait on each other.
  client.connect(acceptor.local_endpoint());
  asio::ip::tcp::socket server = acceptor.accept();
  return {std::move(client), std::move(server)};
}

}  // namespace ferrytide::testing
