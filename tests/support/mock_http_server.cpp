#include "support/mock_http_server.h"

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/ssl.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <cctype>
#include <istream>
#include <sstream>
#include <thread>

namespace ferrytide::testing {

namespace {
using asio::ip::tcp;

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The request line and headers up to the blank line; false when they do not parse.
bool parseHead(std::istream& head, MockHttpServer::Request& request) {
  std::string line;
  if (!std::getline(head, line)) return false;
  std::istringstream requestLine(line);
  if (!(requestLine >> request.method >> request.target)) return false;
  while (std::getline(head, line) && trim(line) != "") {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    request.headers[lowerCase(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
  }
  return true;
}

}  // namespace

struct MockHttpServer::Impl {
  static constexpr std::size_t kMaxBody = 1 << 20;

  explicit Impl(Handler h)
      : handler(std::move(h)),
        acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {}

  void useTls(const TlsIdentity& identity) {
    tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    tls->use_certificate_chain(asio::buffer(identity.certificatePem));
    tls->use_private_key(asio::buffer(identity.privateKeyPem), asio::ssl::context::pem);
  }

  asio::awaitable<void> acceptLoop() {
    while (acceptor.is_open()) {
      try {
        tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
        if (tls) {
          asio::co_spawn(io, serveTls(std::move(socket)), asio::detached);
        } else {
          asio::co_spawn(io, serve(std::move(socket)), asio::detached);  // serve() catches all
        }
      } catch (const std::exception&) {
        // One failed accept does not end the server.
      }
    }
  }

  asio::awaitable<void> serveTls(tcp::socket socket) {
    asio::ssl::stream<tcp::socket> stream(std::move(socket), *tls);
    try {
      co_await stream.async_handshake(asio::ssl::stream_base::server, asio::use_awaitable);
    } catch (const std::exception&) {
      co_return;  // a client that does not trust the certificate gives up here
    }
    co_await serve(stream);
  }

  asio::awaitable<void> serve(tcp::socket socket) { co_await serve<tcp::socket>(socket); }

  template <typename Stream>
  asio::awaitable<void> serve(Stream& socket) {
    try {
      asio::streambuf buffer(64 * 1024);
      std::size_t headLength =
          co_await asio::async_read_until(socket, buffer, "\r\n\r\n", asio::use_awaitable);
      Request request;
      request.arrivedAt = std::chrono::steady_clock::now();
      std::istream stream(&buffer);
      std::string head(headLength, '\0');
      stream.read(head.data(), static_cast<std::streamsize>(headLength));
      std::istringstream headStream(head);
      if (!parseHead(headStream, request)) co_return;
      std::size_t length = std::stoul(
          request.headers.count("content-length") != 0 ? request.headers["content-length"] : "0");
      if (length > kMaxBody) co_return;
      if (buffer.size() < length) {
        co_await asio::async_read(socket, buffer, asio::transfer_exactly(length - buffer.size()),
                                  asio::use_awaitable);
      }
      request.body.resize(length);
      stream.read(request.body.data(), static_cast<std::streamsize>(length));

      Reply reply;
      {
        std::lock_guard lock(mutex);
        recorded.push_back(request);
      }
      reply = handler(request);
      if (reply.delay.count() > 0) {
        asio::steady_timer timer(io, reply.delay);
        co_await timer.async_wait(asio::use_awaitable);
      }
      if (reply.drop) co_return;  // the socket closes unanswered
      std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Status" +
                           "\r\nContent-Type: " + reply.contentType +
                           "\r\nContent-Length: " +
                           std::to_string(reply.announcedLength.value_or(reply.body.size())) +
                           "\r\nConnection: close\r\n\r\n" + reply.body;
      co_await asio::async_write(socket, asio::buffer(answer), asio::use_awaitable);
    } catch (const std::exception&) {
      // The client went away (after its time-out, say) or sent something unreadable.
    }
  }

  Handler handler;
  asio::io_context io;
  tcp::acceptor acceptor;
  mutable std::mutex mutex;
  std::vector<Request> recorded;
  std::unique_ptr<asio::ssl::context> tls;
  std::thread thread;
};

MockHttpServer::MockHttpServer(Handler handler)
    : impl_(std::make_unique<Impl>(std::move(handler))) {
  start();
}

MockHttpServer::MockHttpServer(Handler handler, TlsIdentity tls)
    : impl_(std::make_unique<Impl>(std::move(handler))) {
  impl_->useTls(tls);
  start();
}

void MockHttpServer::start() {
  asio::co_spawn(impl_->io, impl_->acceptLoop(), asio::detached);
  impl_->thread = std::thread([this] { impl_->io.run(); });
}

MockHttpServer::~MockHttpServer() {
  impl_->io.stop();
  impl_->thread.join();
}

std::string MockHttpServer::baseUrl() const {
  std::string scheme = impl_->tls ? "https" : "http";
  return scheme + "://127.0.0.1:" + std::to_string(impl_->acceptor.local_endpoint().port());
}

std::vector<MockHttpServer::Request> MockHttpServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->recorded;
}

std::vector<MockHttpServer::Request> MockHttpServer::requestsTo(const std::string& target) const {
  std::vector<Request> matching;
  for (Request& request : requests()) {
    if (request.target == target) matching.push_back(std::move(request));
  }
  return matching;
}

}  // namespace ferrytide::testing
