#include "fcm_mock.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <cctype>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

#include "core/support/file_io.h"
#include "core/support/json.h"

namespace ferrytide::phone {

namespace {

using asio::ip::tcp;

constexpr const char* accessToken = "fcm-mock-access-token";
constexpr std::size_t maxBodyBytes = 1 << 20;

struct HttpRequest {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool parseHead(const std::string& head, HttpRequest& request) {
  std::istringstream stream(head);
  std::string line;
  if (!std::getline(stream, line)) return false;
  std::istringstream requestLine(line);
  if (!(requestLine >> request.method >> request.target)) return false;
  while (std::getline(stream, line) && trim(line) != "") {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string name = trim(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    request.headers[name] = trim(line.substr(colon + 1));
  }
  return true;
}

std::string errorBody(int code, const std::string& status, const std::string& message) {
  json::Value body = {{"error", {{"code", code}, {"message", message}, {"status", status}}}};
  return json::encodeCompact(body);
}

std::string httpAnswer(const MockReply& reply) {
  const char* reason = reply.status == 200 ? "OK" : reply.status == 401 ? "Unauthorized"
                                                  : reply.status == 404 ? "Not Found"
                                                                        : "Bad Request";
  return "HTTP/1.1 " + std::to_string(reply.status) + " " + reason +
         "\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body;
}

// Sends SIGUSR1 to the phone's `serve`, if one is running.
bool wakeServe(const PhoneState& state) {
  std::optional<Bytes> text = file_io::readIfExists(state.pidFile());
  if (!text) return false;
  try {
    pid_t pid = static_cast<pid_t>(std::stol(toString(*text)));
    return pid > 0 && kill(pid, SIGUSR1) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

class FcmMockServer {
 public:
  FcmMockServer(const PhoneState& state, std::uint16_t port, std::ostream& out)
      : state_(state),
        out_(out),
        acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), port)),
        stops_(io_, SIGINT, SIGTERM) {}

  int run() {
    stops_.async_wait([this](const asio::error_code& error, int) {
      if (!error) io_.stop();
    });
    out_ << "listening on " << acceptor_.local_endpoint().port() << std::endl;
    asio::co_spawn(io_, acceptLoop(), asio::detached);
    io_.run();
    return 0;
  }

 private:
  asio::awaitable<void> acceptLoop() {
    while (acceptor_.is_open()) {
      try {
        tcp::socket socket = co_await acceptor_.async_accept(asio::use_awaitable);
        asio::co_spawn(io_, serve(std::move(socket)), asio::detached);
      } catch (const std::exception&) {
        // One failed accept does not end the server.
      }
    }
  }

  asio::awaitable<void> serve(tcp::socket socket) {
    try {
      HttpRequest request = co_await readRequest(socket);
      MockReply reply = answerFcmRequest(
          request.method, request.target, request.headers["authorization"], request.body,
          state_.fcmToken(), [this] {
            bool woken = wakeServe(state_);
            out_ << (woken ? "wake: sent" : "wake: no serve running") << std::endl;
          });
      std::string answer = httpAnswer(reply);
      co_await asio::async_write(socket, asio::buffer(answer), asio::use_awaitable);
    } catch (const std::exception&) {
      // A client that went away or sent something unreadable gets no answer.
    }
  }

  asio::awaitable<HttpRequest> readRequest(tcp::socket& socket) {
    asio::streambuf buffer(64 * 1024);
    std::size_t headLength =
        co_await asio::async_read_until(socket, buffer, "\r\n\r\n", asio::use_awaitable);
    std::istream stream(&buffer);
    std::string head(headLength, '\0');
    stream.read(head.data(), static_cast<std::streamsize>(headLength));
    HttpRequest request;
    if (!parseHead(head, request)) throw std::runtime_error("bad request head");
    std::size_t length = std::stoul(request.headers.count("content-length") != 0
                                        ? request.headers["content-length"]
                                        : "0");
    if (length > maxBodyBytes) throw std::runtime_error("body too large");
    if (buffer.size() < length) {
      co_await asio::async_read(socket, buffer, asio::transfer_exactly(length - buffer.size()),
                                asio::use_awaitable);
    }
    request.body.resize(length);
    stream.read(request.body.data(), static_cast<std::streamsize>(length));
    co_return request;
  }

  const PhoneState& state_;
  std::ostream& out_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::signal_set stops_;
};

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

MockReply answerFcmRequest(const std::string& method, const std::string& target,
                           const std::string& authorization, const std::string& body,
                           const std::string& phoneToken, const std::function<void()>& wake) {
  if (method != "POST") return {404, errorBody(404, "NOT_FOUND", "no such endpoint")};
  if (target == "/token") {
    json::Value answer = {{"access_token", accessToken}, {"expires_in", 3600},
                          {"token_type", "Bearer"}};
    return {200, json::encodeCompact(answer)};
  }
  if (target.rfind("/v1/projects/", 0) != 0 || !endsWith(target, "/messages:send")) {
    return {404, errorBody(404, "NOT_FOUND", "no such endpoint")};
  }
  if (authorization != std::string("Bearer ") + accessToken) {
    return {401, errorBody(401, "UNAUTHENTICATED", "bad access token")};
  }
  std::string token;
  try {
    json::Value message = json::requireObject(json::parse(body)).at("message");
    token = json::requireString(message, "token");
  } catch (const std::exception& error) {
    return {400, errorBody(400, "INVALID_ARGUMENT", error.what())};
  }
  if (token != phoneToken) {
    return {404, errorBody(404, "NOT_FOUND", "Requested entity was not found.")};
  }
  wake();
  return {200, json::encodeCompact(json::Value{{"name", "projects/mock/messages/1"}})};
}

int runFcmMock(const PhoneState& state, std::uint16_t port, std::ostream& out) {
  FcmMockServer server(state, port, out);
  return server.run();
}

}  // namespace ferrytide::phone
