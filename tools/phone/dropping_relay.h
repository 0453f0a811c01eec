#pragma once

// A dropped Wi-Fi between the phone and the computer: a relay on loopback that passes
// connections on to the receiving side and cuts the first one once a given number of bytes went
// from the sending side to the receiving side. The cut falls exactly there, inside a frame or
// not, as a real loss of the network would; the receiving side gets every byte up to it and
// none after it. How it ends:
//   reset  both sides are reset, once the receiving side has acknowledged every byte;
//   close  the receiving side sees an orderly close (end of stream);
//   stall  nothing more passes either way and both sockets stay open, until the receiving side
//          ends (its idle time-out, or the process killed); the sending side then gets a reset.
// In `send` the phone is the sending side; in `serve` the computer is.

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ferrytide::phone {

enum class CutKind { reset, close, stall };

struct Cut {
  std::int64_t after = 0;  // bytes from the sending side
  CutKind kind = CutKind::reset;
};

// "reset", "close", "stall"; nothing for any other text.
std::optional<CutKind> cutKindNamed(const std::string& name);
const char* cutKindName(CutKind kind);

class DroppingRelay {
 public:
  // Listens on `listenAt` (port 0: any) and forwards to `host`:`port`.
  DroppingRelay(asio::any_io_executor executor, std::string host, std::int64_t port, Cut cut,
                asio::ip::tcp::endpoint listenAt = {asio::ip::address_v4::loopback(), 0});

  std::uint16_t port() const { return port_; }
  // Where the connections that come after go.
  void forwardTo(std::int64_t port) { hostPort_ = port; }

  // Called once, at the moment of the cut, with the bytes forwarded.
  void onCut(std::function<void(std::int64_t)> callback) { onCut_ = std::move(callback); }

  // Serves one connection to its end: the cut, or either side closing.
  asio::awaitable<void> relayOne();
  // Serves every connection until stop(), each in its own coroutine; only the first is cut.
  asio::awaitable<void> relayAll();
  void stop();

  bool dropped() const { return forwarded_ >= cut_.after; }
  std::int64_t forwarded() const { return forwarded_; }

 private:
  struct Link;

  asio::awaitable<void> relay(asio::ip::tcp::socket sending, bool cut);
  asio::awaitable<void> sendingToReceiving(Link& link);
  asio::awaitable<void> receivingToSending(Link& link);
  asio::awaitable<void> endAtCut(Link& link);

  asio::ip::tcp::acceptor acceptor_;
  std::string host_;
  std::int64_t hostPort_;
  Cut cut_;
  std::function<void(std::int64_t)> onCut_;
  std::int64_t forwarded_ = 0;  // of the cut connection
  std::uint16_t port_ = 0;
};

}  // namespace ferrytide::phone
