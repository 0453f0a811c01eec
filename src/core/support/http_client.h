#pragma once

// The one wrapper over the HTTP library. Requests are blocking inside the library, so they run
// on the client's own worker threads; the network thread only awaits their outcome.

#include <asio/awaitable.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

struct HttpRequest {
  std::string method = "POST";
  std::string url;  // "http" and "https" only
  std::vector<std::pair<std::string, std::string>> headers;
  Bytes body;
  // For the whole exchange: connecting, sending and receiving the answer.
  std::chrono::milliseconds timeout{60'000};
  // A larger answer ends the request with an error rather than filling memory.
  std::size_t maxResponseBytes = 1'048'576;
  // PEM file of the certificate authorities to trust for https; empty: the system's.
  std::string caFile = {};
  // When set, the answer's body goes here piece by piece (on a worker thread) instead of into
  // the response, and maxResponseBytes does not apply. Returning false ends the request.
  std::function<bool(ByteView piece)> onBody = {};
  // With onBody: the length the server announced, before the first piece (when it gave one).
  std::function<void(std::uint64_t length)> onContentLength = {};
  // Once this turns true the request ends within about a second, with an HttpError.
  std::shared_ptr<const std::atomic<bool>> cancel = {};
};

struct HttpResponse {
  long status = 0;
  Bytes body;
};

// A request that ended without an HTTP answer. The description is the library's account of what
// went wrong ("Failed to connect to 127.0.0.1 port 9: Connection refused").
class HttpError : public Error {
 public:
  enum class Kind {
    timedOut,             // the request's time-out ran out
    cannotFindHost,       // the host name does not resolve
    cannotConnectToHost,  // refused or unreachable
    connectionLost,       // the connection broke, or closed without an answer
    dnsLookupFailed,      // the proxy's name does not resolve
    notConnected,         // no network to send on
    other                 // anything else: a bad URL, an oversized answer, ...
  };

  HttpError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// The process's HTTP session. Redirects are not followed. Requests may run concurrently, one
// per worker thread; more wait for a free one.
//
// The client must outlive its pending requests, and the executor of each awaiting coroutine must
// stay alive until that request has completed (the client keeps the executor's work count up
// meanwhile, so a running io_context does not return early).
class HttpClient {
 public:
  explicit HttpClient(std::size_t workerThreads = 2);
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  // Waits for the requests in progress.
  ~HttpClient();

  // Runs a copy of the request on a worker thread and resumes the caller on its own executor
  // with the answer, whatever its status, or with an HttpError.
  asio::awaitable<HttpResponse> perform(const HttpRequest& request);

  // Nothing when `url` is an absolute http or https URL with a host; otherwise why not.
  static std::optional<std::string> checkUrl(std::string_view url);

 private:
  struct Workers;
  std::unique_ptr<Workers> workers_;
};

}  // namespace ferrytide
