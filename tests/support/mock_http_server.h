#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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
  };

  using Handler = std::function<Reply(const Request&)>;

  explicit MockHttpServer(Handler handler);
  MockHttpServer(const MockHttpServer&) = delete;
  MockHttpServer& operator=(const MockHttpServer&) = delete;
  ~MockHttpServer();

  // "http://127.0.0.1:<port>"
  std::string baseUrl() const;
  std::vector<Request> requests() const;
  std::vector<Request> requestsTo(const std::string& target) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ferrytide::testing
