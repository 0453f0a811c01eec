#pragma once

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "core/support/error.h"
#include "core/support/http_client.h"
#include "plinth_reports/outgoing_report.h"
#include "plinth_reports/report_config.h"

namespace plinth {

// Uploads problem reports as signed multipart forms. A report that cannot be sent for want
// of a network waits in the outbox ("<report folder>/outbox/<UUID>.json") for the next start.
//
// The signature header lets the server check the body and its age:
//   X-Report-Signature: t=<unix seconds>,v1=<hex HMAC-SHA-256 of "<t>.<hex SHA-256 of body>">
class ReportSender {
 public:
  class Failure : public ferrytide::Error {
   public:
    enum class Kind { notConfigured, offline, rejected };

    static Failure notConfigured();  // "Reporting isn't set up in this build."
    static Failure offline();  // "You're offline. The report will be sent when you're back online."
    // "The report wasn't accepted (" + status + "): " + message
    static Failure rejected(long status, const std::string& message);

    Kind kind() const { return kind_; }

   private:
    Failure(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  using Clock = std::function<std::chrono::system_clock::time_point()>;

  ReportSender(
      ReportConfig config, ferrytide::HttpClient& http,
      Clock clock = [] { return std::chrono::system_clock::now(); });

  // The server's reference for the report. Throws Failure (after keeping the report in the
  // outbox when offline) or the HttpError of any other transport failure.
  asio::awaitable<std::string> send(const OutgoingReport& report);
  // Uploads the reports waiting in the outbox, oldest name first, and deletes each once the
  // server has it. A report the server refuses stays for the next start; without a network the
  // rest wait too; a file that is not a report is set aside (".damaged"). Returns how many
  // were sent. A call while one is running does nothing, so no report goes twice.
  asio::awaitable<std::size_t> sendWaiting();

  std::filesystem::path outboxFolder() const { return config_.folder / "outbox"; }

  static ferrytide::Bytes multipartBody(const OutgoingReport& report, std::string_view boundary);
  static std::string signature(ferrytide::ByteView body, std::int64_t unixSeconds,
                               std::string_view key);

 private:
  asio::awaitable<std::string> upload(const OutgoingReport& report);
  void keepForLater(const OutgoingReport& report) const;
  asio::awaitable<bool> sendWaitingFile(const std::filesystem::path& file, std::size_t& sent);

  ReportConfig config_;
  ferrytide::HttpClient& http_;
  Clock clock_;
  bool sendingWaiting_ = false;
};

}  // namespace plinth
