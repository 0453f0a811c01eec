#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "core/support/http_client.h"
#include "plinth_reports/crash_store.h"
#include "plinth_reports/diary.h"
#include "plinth_reports/report_composer.h"
#include "plinth_reports/report_config.h"
#include "plinth_reports/report_sender.h"
#include "plinth_reports/system_facts.h"

namespace plinth {

// Problem reports as the application uses them: the diary of this run, the crashes of earlier
// runs, composing a report, and the sender with its outbox of reports that wait for a network.
// Used from the main thread; the sender's coroutines run on the network executor.
class Reports {
 public:
  using SettingsSummary = std::function<std::map<std::string, std::string>()>;

  // `toolkit` names the user-interface library and its version for the report ("Qt 6.4.2").
  Reports(ReportConfig config, ferrytide::HttpClient& http, std::string toolkit);

  // Set by the application at start-up; part of a report's technical details.
  SettingsSummary settingsSummary;

  // Starts this run's diary, installs the crash capture (unless told not to, as tests do),
  // stores the crashes of earlier runs and tells `onCrashFound` of each new one, then sends the
  // waiting reports on `network` in the background.
  void start(const std::function<void(const Crash&)>& onCrashFound, asio::any_io_executor network,
             bool captureCrashes = true);
  // Sends the waiting reports again, when the network is back.
  void sendWaiting(asio::any_io_executor network);

  void note(std::string_view step) { diary_.note(step); }
  void warning(std::string_view text, bool shown = false) {
    diary_.log(text, shown, Diary::Level::warning);
  }
  void error(std::string_view text, bool shown = false) {
    diary_.log(text, shown, Diary::Level::error);
  }

  OutgoingReport compose(const ReportDraft& draft) const;

  const ReportConfig& config() const { return config_; }
  Diary& diary() { return diary_; }
  CrashStore& crashes() { return crashes_; }
  // Its coroutines run on the network executor only.
  ReportSender& sender() { return sender_; }

 private:
  ReportConfig config_;
  std::string toolkit_;
  Diary diary_;
  CrashStore crashes_;
  ReportSender sender_;
};

}  // namespace plinth
