#include "core/channel/tcp_keep_alive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace ferrytide {

namespace {

constexpr int kKeepAliveIdleSeconds = 10;
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kKeepAliveCount = 3;

// An integer option at the TCP level, in the shape Asio's set_option expects.
template <int Name>
struct TcpOption {
  int value;
  template <typename Protocol>
  int level(const Protocol&) const {
    return IPPROTO_TCP;
  }
  template <typename Protocol>
  int name(const Protocol&) const {
    return Name;
  }
  template <typename Protocol>
  const int* data(const Protocol&) const {
    return &value;
  }
  template <typename Protocol>
  std::size_t size(const Protocol&) const {
    return sizeof value;
  }
};

}  // namespace

asio::error_code enableKeepAlive(asio::ip::tcp::socket& socket) {
  asio::error_code error;
  socket.set_option(asio::socket_base::keep_alive(true), error);
  if (!error) socket.set_option(TcpOption<TCP_KEEPIDLE>{kKeepAliveIdleSeconds}, error);
  if (!error) socket.set_option(TcpOption<TCP_KEEPINTVL>{kKeepAliveIntervalSeconds}, error);
  if (!error) socket.set_option(TcpOption<TCP_KEEPCNT>{kKeepAliveCount}, error);
  return error;
}

}  // namespace ferrytide
