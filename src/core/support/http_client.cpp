#include "core/support/http_client.h"

#include <curl/curl.h>

#include <asio/async_result.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/thread_pool.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <exception>

namespace ferrytide {

namespace {

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct BodySink {
  Bytes body;
  std::size_t limit = 0;
  bool overflowed = false;
  const HttpRequest* request = nullptr;
  CURL* curl = nullptr;
  bool lengthReported = false;
  bool stoppedByCaller = false;
};

void reportContentLength(BodySink& sink) {
  if (sink.lengthReported || !sink.request->onContentLength) return;
  sink.lengthReported = true;
  curl_off_t length = -1;
  if (curl_easy_getinfo(sink.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
      length >= 0) {
    sink.request->onContentLength(static_cast<std::uint64_t>(length));
  }
}

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* sink = static_cast<BodySink*>(context);
  std::size_t length = size * count;
  if (sink->request->onBody) {
    reportContentLength(*sink);
    auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (sink->request->onBody(ByteView(bytes, length))) return length;
    sink->stoppedByCaller = true;
    return 0;
  }
  if (length > sink->limit - sink->body.size()) {
    sink->overflowed = true;
    return 0;  // ends the transfer with a write error
  }
  sink->body.insert(sink->body.end(), data, data + length);
  return length;
}

int checkCancel(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(context);
  return cancel->load() ? 1 : 0;
}

HttpError::Kind classify(CURLcode code, long systemError) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::Kind::timedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpError::Kind::cannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpError::Kind::dnsLookupFailed;
    case CURLE_COULDNT_CONNECT:
      return (systemError == ENETUNREACH || systemError == ENETDOWN)
                 ? HttpError::Kind::notConnected
                 : HttpError::Kind::cannotConnectToHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return HttpError::Kind::connectionLost;
    default:
      return HttpError::Kind::other;
  }
}

// Options are set once per request and the library only fails them on out-of-memory or on a
// value it does not support; either makes the request unusable.
template <typename Value>
void setOption(CURL* curl, CURLoption option, Value value) {
  CURLcode code = curl_easy_setopt(curl, option, value);
  if (code != CURLE_OK) throw HttpError(HttpError::Kind::other, curl_easy_strerror(code));
}

HeaderList makeHeaders(const HttpRequest& request) {
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) throw HttpError(HttpError::Kind::other, "out of memory");
    list.release();
    list.reset(grown);
  };
  for (const auto& [name, value] : request.headers) append(name + ": " + value);
  append("Expect:");  // no "100-continue" round trip before the body
  return list;
}

// Blocks until the exchange is over. Runs on a worker thread.
HttpResponse performBlocking(const HttpRequest& request) {
  if (request.url.find('\0') != std::string::npos) {
    throw HttpError(HttpError::Kind::other, "URL contains a NUL character");
  }
  EasyHandle handle(curl_easy_init());
  if (!handle) throw HttpError(HttpError::Kind::other, "cannot create an HTTP request");
  CURL* curl = handle.get();
  char errorText[CURL_ERROR_SIZE] = {};
  BodySink sink{{}, request.maxResponseBytes, false, &request, curl};
  HeaderList headers = makeHeaders(request);

  setOption(curl, CURLOPT_ERRORBUFFER, errorText);
  setOption(curl, CURLOPT_NOSIGNAL, 1L);
  setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  setOption(curl, CURLOPT_URL, request.url.c_str());
  setOption(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  setOption(curl, CURLOPT_HTTPHEADER, headers.get());
  setOption(curl, CURLOPT_WRITEFUNCTION, &collectBody);
  setOption(curl, CURLOPT_WRITEDATA, &sink);
  if (!request.caFile.empty()) setOption(curl, CURLOPT_CAINFO, request.caFile.c_str());
  if (request.cancel) {
    setOption(curl, CURLOPT_NOPROGRESS, 0L);
    setOption(curl, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    setOption(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(request.cancel.get()));
  }
  if (request.method == "POST" || !request.body.empty()) {
    setOption(curl, CURLOPT_POST, 1L);
    setOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    setOption(curl, CURLOPT_POSTFIELDS, request.body.data());
  }
  if (request.method != "POST" && request.method != "GET") {
    setOption(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  CURLcode code = curl_easy_perform(curl);
  if (sink.stoppedByCaller || code == CURLE_ABORTED_BY_CALLBACK) {
    throw HttpError(HttpError::Kind::other, "the request was stopped");
  }
  if (sink.overflowed) {
    throw HttpError(
        HttpError::Kind::other,
        "HTTP response larger than " + std::to_string(request.maxResponseBytes) + " bytes");
  }
  if (code != CURLE_OK) {
    long systemError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &systemError);
    std::string description = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    throw HttpError(classify(code, systemError), description);
  }
  HttpResponse response;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  response.body = std::move(sink.body);
  return response;
}

}  // namespace

struct HttpClient::Workers {
  explicit Workers(std::size_t threads) : pool(threads) {}
  // Without a stop() first, join() lets every queued request finish and report back.
  ~Workers() { pool.join(); }
  asio::thread_pool pool;
};

HttpClient::HttpClient(std::size_t workerThreads) {
  // Library-wide set-up, once per process, before any worker thread uses the library.
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialised != CURLE_OK) {
    throw HttpError(HttpError::Kind::other, curl_easy_strerror(initialised));
  }
  workers_ = std::make_unique<Workers>(workerThreads == 0 ? 1 : workerThreads);
}

HttpClient::~HttpClient() = default;

asio::awaitable<HttpResponse> HttpClient::perform(const HttpRequest& request) {
  auto initiation = [this](auto handler, HttpRequest copy) {
    // Keeps the caller's context running until the answer has been delivered to it.
    auto home = asio::prefer(asio::get_associated_executor(handler),
                             asio::execution::outstanding_work.tracked);
    asio::post(workers_->pool, [copy = std::move(copy), handler = std::move(handler),
                                home = std::move(home)]() mutable {
      std::exception_ptr error;
      HttpResponse response;
      try {
        response = performBlocking(copy);
      } catch (...) {
        error = std::current_exception();
      }
      asio::post(home,
                 [handler = std::move(handler), error, response = std::move(response)]() mutable {
                   std::move(handler)(error, std::move(response));
                 });
    });
  };
  HttpRequest copy = request;
  co_return co_await asio::async_initiate<const asio::use_awaitable_t<>,
                                          void(std::exception_ptr, HttpResponse)>(
      initiation, asio::use_awaitable, std::move(copy));
}

std::optional<std::string> HttpClient::checkUrl(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "contains a NUL character";
  UrlHandle url(curl_url());
  if (!url) return "out of memory";
  std::string owned(text);
  CURLUcode code = curl_url_set(url.get(), CURLUPART_URL, owned.c_str(), 0);
  if (code != CURLUE_OK) return curl_url_strerror(code);

  auto part = [&url](CURLUPart which) -> std::string {
    char* value = nullptr;
    if (curl_url_get(url.get(), which, &value, 0) != CURLUE_OK || value == nullptr) return "";
    std::string copy(value);
    curl_free(value);
    return copy;
  };
  std::string scheme = part(CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") {
    return "scheme \"" + scheme + "\" is not http or https";
  }
  if (part(CURLUPART_HOST).empty()) return "no host";
  return std::nullopt;
}

}  // namespace ferrytide
