#include "plinth_reports/report_sender.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/support/crypto.h"
#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/support/uuid.h"

namespace plinth {
namespace {

using ferrytide::Bytes;
using ferrytide::HttpError;

const ferrytide::Logger kLog("reports");

bool isOffline(const HttpError& error) {
  switch (error.kind()) {
    case HttpError::Kind::timedOut:
    case HttpError::Kind::cannotFindHost:
    case HttpError::Kind::cannotConnectToHost:
    case HttpError::Kind::connectionLost:
    case HttpError::Kind::dnsLookupFailed:
    case HttpError::Kind::notConnected:
      return true;
    case HttpError::Kind::other:
      return false;
  }
  return false;
}

void append(Bytes& body, std::string_view text) {
  body.insert(body.end(), text.begin(), text.end());
}

// The reference in the server's answer {"ref":"R-2041"}; empty when the answer has none.
std::string referenceIn(const Bytes& answer) {
  try {
    return ferrytide::json::requireString(ferrytide::json::parse(answer), "ref");
  } catch (const std::exception& error) {
    kLog.warning(std::string("report accepted without a reference: ") + error.what());
    return {};
  }
}

}  // namespace

ReportSender::Failure ReportSender::Failure::notConfigured() {
  return Failure(Kind::notConfigured, "Reporting isn't set up in this build.");
}

ReportSender::Failure ReportSender::Failure::offline() {
  return Failure(Kind::offline, "You're offline. The report will be sent when you're back online.");
}

ReportSender::Failure ReportSender::Failure::rejected(long status, const std::string& message) {
  return Failure(Kind::rejected,
                 "The report wasn't accepted (" + std::to_string(status) + "): " + message);
}

ReportSender::ReportSender(ReportConfig config, ferrytide::HttpClient& http, Clock clock)
    : config_(std::move(config)), http_(http), clock_(std::move(clock)) {}

Bytes ReportSender::multipartBody(const OutgoingReport& report, std::string_view boundary) {
  Bytes body;
  std::string delimiter = "--" + std::string(boundary) + "\r\n";
  for (const auto& [key, value] : report.fields) {  // a std::map: sorted by key
    append(body, delimiter);
    append(body, "Content-Disposition: form-data; name=\"" + key + "\"\r\n\r\n");
    append(body, value);
    append(body, "\r\n");
  }
  for (const OutgoingReport::File& file : report.files) {
    append(body, delimiter);
    append(body, "Content-Disposition: form-data; name=\"" + file.part + "\"; filename=\"" +
                     file.filename + "\"\r\n");
    append(body, "Content-Type: application/octet-stream\r\n\r\n");
    body.insert(body.end(), file.data.begin(), file.data.end());
    append(body, "\r\n");
  }
  append(body, "--" + std::string(boundary) + "--\r\n");
  return body;
}

std::string ReportSender::signature(ferrytide::ByteView body, std::int64_t unixSeconds,
                                    std::string_view key) {
  namespace crypto = ferrytide::crypto;
  std::string timestamp = std::to_string(unixSeconds);
  std::string bodyHash = ferrytide::toHex(crypto::sha256(body));
  crypto::Digest mac =
      crypto::hmacSha256(ferrytide::asBytes(key), ferrytide::asBytes(timestamp + "." + bodyHash));
  return "t=" + timestamp + ",v1=" + ferrytide::toHex(mac);
}

asio::awaitable<std::string> ReportSender::send(const OutgoingReport& report) {
  try {
    co_return co_await upload(report);
  } catch (const HttpError& error) {
    if (!isOffline(error)) throw;
    kLog.info(std::string("report kept for later: ") + error.what());
  }
  keepForLater(report);
  throw Failure::offline();
}

asio::awaitable<std::string> ReportSender::upload(const OutgoingReport& report) {
  if (!config_.isComplete()) throw Failure::notConfigured();
  std::string boundary = "tovrin-" + ferrytide::randomUuid();
  ferrytide::HttpRequest request;
  request.method = "POST";
  request.url = config_.url;
  request.timeout = std::chrono::seconds(60);
  request.body = multipartBody(report, boundary);
  auto now = std::chrono::floor<std::chrono::seconds>(clock_().time_since_epoch()).count();
  request.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary},
                     {"X-Report-App", config_.app},
                     {"X-Report-Signature", signature(request.body, now, config_.key)}};
  ferrytide::HttpResponse response = co_await http_.perform(request);
  if (response.status != 201)
    throw Failure::rejected(response.status, ferrytide::toString(response.body));
  co_return referenceIn(response.body);
}

void ReportSender::keepForLater(const OutgoingReport& report) const {
  std::filesystem::path file = outboxFolder() / (ferrytide::randomUuid() + ".json");
  ferrytide::file_io::createDirectories(outboxFolder(), 0700);
  ferrytide::file_io::writeAtomically(
      file, ferrytide::toBytes(ferrytide::json::encodeCompact(report.toJson())), 0600);
}

asio::awaitable<std::size_t> ReportSender::sendWaiting() {
  if (sendingWaiting_) co_return 0;
  sendingWaiting_ = true;
  std::vector<std::filesystem::path> waiting;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(outboxFolder(), error)) {
    if (entry.path().extension() == ".json") waiting.push_back(entry.path());
  }
  std::sort(waiting.begin(), waiting.end());
  std::size_t sent = 0;
  try {
    for (const std::filesystem::path& file : waiting) {
      if (!co_await sendWaitingFile(file, sent)) break;
    }
  } catch (...) {
    sendingWaiting_ = false;
    throw;
  }
  sendingWaiting_ = false;
  co_return sent;
}

// False when the network is gone and the rest had better wait too.
asio::awaitable<bool> ReportSender::sendWaitingFile(const std::filesystem::path& file,
                                                    std::size_t& sent) {
  OutgoingReport report;
  try {
    std::optional<Bytes> content = ferrytide::file_io::readIfExists(file);
    if (!content) co_return true;
    report = OutgoingReport::fromJson(ferrytide::json::parse(*content));
  } catch (const std::exception& error) {
    kLog.error("waiting report unreadable, set aside: " + file.string() + ": " + error.what());
    std::error_code ignored;
    std::filesystem::rename(file, std::filesystem::path(file) += ".damaged", ignored);
    co_return true;
  }
  try {
    co_await upload(report);
  } catch (const HttpError& error) {
    kLog.info(std::string("waiting report not sent: ") + error.what());
    co_return !isOffline(error);
  } catch (const Failure& failure) {
    kLog.warning(std::string("waiting report not sent: ") + failure.what());
    co_return failure.kind() == Failure::Kind::rejected;
  }
  std::error_code error;
  std::filesystem::remove(file, error);
  if (error) kLog.error("sent report could not be removed from the outbox: " + error.message());
  ++sent;
  co_return true;
}

}  // namespace plinth
