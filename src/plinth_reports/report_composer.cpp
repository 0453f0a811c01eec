#include "plinth_reports/report_composer.h"

#include <chrono>
#include <ctime>

namespace plinth {
namespace {

using ferrytide::json::Value;

std::string isoTime(std::chrono::system_clock::time_point at) {
  auto seconds = std::chrono::floor<std::chrono::seconds>(at);
  std::time_t time = std::chrono::system_clock::to_time_t(seconds);
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A crash report tells of the run that crashed, so its steps are that run's.
Value details(const ReportDraft& draft, const Diary& diary,
              const std::map<std::string, std::string>& settingsSummary) {
  Value lastError = nullptr;
  if (diary.lastError()) {
    lastError = Value{{"text", diary.lastError()->text}, {"at", isoTime(diary.lastError()->at)}};
  }
  return Value{{"steps", draft.crash ? diary.previousSteps() : diary.steps()},
               {"lastError", lastError},
               {"settings", settingsSummary}};
}

}  // namespace

std::optional<std::string> ReportComposer::refuseCrashOfSize(std::size_t bytes) {
  if (bytes <= maxCrashBytes) return std::nullopt;
  return "That crash report is too large to send (over 512 KB).";
}

OutgoingReport ReportComposer::compose(const ReportDraft& draft, const ReportConfig& config,
                                       const SystemFacts& facts, const Diary& diary,
                                       const std::map<std::string, std::string>& settingsSummary) {
  OutgoingReport report;
  report.fields = {{"version", config.version},
                   {"build", config.build},
                   {"os", facts.os},
                   {"model", facts.model},
                   {"kind", draft.crash ? "crash" : "problem"}};
  if (!draft.message.empty()) report.fields["message"] = draft.message;
  if (!draft.email.empty()) report.fields["email"] = draft.email;
  if (draft.includeDetails) {
    report.fields["details"] =
        ferrytide::json::encodeCompact(details(draft, diary, settingsSummary));
  }
  if (draft.crash) {
    report.files.push_back({"crash", draft.crash->filename, draft.crash->data});
  }
  if (draft.includeDetails) {
    std::string log = diary.errorLog();
    if (!log.empty()) report.files.push_back({"errors", "errors.log", ferrytide::toBytes(log)});
  }
  return report;
}

std::string ReportComposer::preview(const OutgoingReport& report) {
  std::string text;
  for (const auto& [key, value] : report.fields) text += key + ": " + value + "\n";
  for (const OutgoingReport::File& file : report.files) {
    text += "Attached: " + file.filename + " (" + std::to_string(file.data.size()) + " bytes)\n";
  }
  if (!report.fields.contains("details")) text += "\n\nNo technical details.";
  return text;
}

}  // namespace plinth
