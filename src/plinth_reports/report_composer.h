#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "core/support/bytes.h"
#include "plinth_reports/diary.h"
#include "plinth_reports/outgoing_report.h"
#include "plinth_reports/report_config.h"
#include "plinth_reports/system_facts.h"

namespace plinth {

// What the user put into the report form.
struct ReportDraft {
  struct Crash {
    std::string filename;  // "crash.json" for a stored crash record
    ferrytide::Bytes data;
  };

  std::string message;
  std::string email;
  bool includeDetails = true;
  std::optional<Crash> crash;  // set: the report is about a crash
};

// Turns a draft into the report that is uploaded: the fixed fields, what the user typed, and,
// when technical details are included, the diary's steps, its last error, the settings summary
// and the error log. Nothing else of the application goes in.
class ReportComposer {
 public:
  // A chosen crash report may have at most this many bytes.
  static constexpr std::size_t maxCrashBytes = 524288;

  // Nothing when a crash report of that size may be attached; otherwise the refusal.
  static std::optional<std::string> refuseCrashOfSize(std::size_t bytes);

  static OutgoingReport compose(const ReportDraft& draft, const ReportConfig& config,
                                const SystemFacts& facts, const Diary& diary,
                                const std::map<std::string, std::string>& settingsSummary);
  // "What is sent": the fields and file names of the report.
  static std::string preview(const OutgoingReport& report);
};

}  // namespace plinth
