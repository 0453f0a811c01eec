#pragma once

// A dropped Wi-Fi between the phone and the computer: a relay on 127.0.0.1 that passes one
// connection on to the computer and cuts it, both ways and with a reset, once a given number of
// bytes went from the phone to the computer. The cut falls exactly there, inside a frame or
// not, as a real loss of the network would: the computer gets every byte up to it (the reset
// waits until the computer has acknowledged them), the phone hears nothing after it.

#include <asio.hpp>
#include <cstdint>
#include <string>

namespace ferrytide::phone {

class DroppingRelay {
 public:
  DroppingRelay(asio::any_io_executor executor, std::string host, std::int64_t port,
                std::int64_t limit);

  std::uint16_t port() const { return port_; }

  // Serves one connection to its end: the cut, or either side closing.
  asio::awaitable<void> relayOne();

  bool dropped() const { return forwarded_ >= limit_; }
  std::int64_t forwarded() const { return forwarded_; }

 private:
  asio::awaitable<void> phoneToComputer(asio::ip::tcp::socket& phone,
                                        asio::ip::tcp::socket& computer);
  static asio::awaitable<void> computerToPhone(asio::ip::tcp::socket& computer,
                                               asio::ip::tcp::socket& phone);

  asio::ip::tcp::acceptor acceptor_;
  std::string host_;
  std::int64_t hostPort_;
  std::int64_t limit_;
  std::int64_t forwarded_ = 0;
  std::uint16_t port_ = 0;
};

}  // namespace ferrytide::phone
