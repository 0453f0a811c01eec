#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ferrytide::testing {

// A minimal HTTP/1.1 server on 127.0.0.1 and a port the system picks, with its own thread. Each
// connection carries one request (the body sized by Content-Length) and one answer, then
// closes. A handler chosen by the test decides every answer; the server records every request.
class MockHttpServer {
 public:
  struct Request {
    std::string method;
    std::string target;                          // "/v1/projects/p/messages:send"
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::chrono::steady_clock::time_point arrivedAt;
  };

  struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};  // before answering
    bool drop = false;                   // close without any answer (after the delay)
    // Announce this Content-Length instead of the body's (more: the answer is cut short).
    std::optional<std::size_t> announcedLength = std::nullopt;
  };

  // A certificate and its key, both PEM, that the server presents for https.
  struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
  };

  using Handler = std::function<Reply(const Request&)>;

  explicit MockHttpServer(Handler handler);
  // The same over TLS: baseUrl() is then "https://127.0.0.1:<port>".
  MockHttpServer(Handler handler, TlsIdentity tls);
  MockHttpServer(const MockHttpServer&) = delete;
  MockHttpServer& operator=(const MockHttpServer&) = delete;
  ~MockHttpServer();

  // "http://127.0.0.1:<port>" (or https)
  std::string baseUrl() const;
  std::vector<Request> requests() const;
  std::vector<Request> requestsTo(const std::string& target) const;

 private:
  void start();

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ferrytide::testing
