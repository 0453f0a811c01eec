#pragma once

#include <asio.hpp>
#include <utility>

namespace ferrytide::testing {

// Two ends of one TCP connection over 127.0.0.1 on a port the system picks, both bound to `io`.
std::pair<asio::ip::tcp::socket, asio::ip::tcp::socket> makeLoopbackPair(asio::io_context& io);

}  // namespace ferrytide::testing
