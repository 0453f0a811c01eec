#include "plinth_reports/reports.h"

#include <asio/co_spawn.hpp>

#include "core/support/log.h"
#include "platform/linux/crash_capture.h"

namespace plinth {
namespace {

const ferrytide::Logger kLog("reports");

}  // namespace

Reports::Reports(ReportConfig config, ferrytide::HttpClient& http, std::string toolkit)
    : config_(std::move(config)),
      toolkit_(std::move(toolkit)),
      diary_(config_.folder),
      crashes_(config_.folder),
      sender_(config_, http) {}

void Reports::start(const std::function<void(const Crash&)>& onCrashFound,
                    asio::any_io_executor network, bool captureCrashes) {
  diary_.startRun();
  if (captureCrashes) {
    try {
      ferrytide::platform::installCrashCapture(crashes_.pendingFolder());
    } catch (const std::exception& failure) {
      kLog.error(std::string("crash capture not installed: ") + failure.what());
    }
  }
  crashes_.start(onCrashFound);
  sendWaiting(std::move(network));
}

void Reports::sendWaiting(asio::any_io_executor network) {
  asio::co_spawn(network, sender_.sendWaiting(), [](std::exception_ptr failure, std::size_t sent) {
    if (sent > 0) kLog.info("waiting reports sent: " + std::to_string(sent));
    if (!failure) return;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      kLog.error(std::string("waiting reports not sent: ") + error.what());
    }
  });
}

OutgoingReport Reports::compose(const ReportDraft& draft) const {
  std::map<std::string, std::string> settings;
  if (settingsSummary) settings = settingsSummary();
  return ReportComposer::compose(draft, config_, SystemFacts::current(toolkit_), diary_, settings);
}

}  // namespace plinth
