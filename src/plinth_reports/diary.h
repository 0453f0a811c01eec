#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/serial_queue.h"

namespace plinth {

// The last error the user saw, as "last-error.json" keeps it:
//   {"at":"2025-01-31T09:15:02Z","text":"Could not reach Pixel 8"}
struct LastError {
  std::string text;
  std::chrono::system_clock::time_point at;

  bool operator==(const LastError&) const = default;
};

// What the application did lately and the warnings and errors it met, for a problem report.
// Three files in the report folder:
//   "steps.json"       this run's recent steps, a JSON array of strings, newest last
//   "last-error.json"  the LastError above
//   "errors.log"       one line per warning or error:
//                      2025-01-31T09:15:02Z error Could not reach Pixel 8
// Timestamps are UTC with whole seconds. Lengths count characters (Unicode code points); bytes
// that are not UTF-8 are stored as U+FFFD.
//
// Used from one thread (the main thread). The files are written on a queue of their own, in the
// order of the calls; reading the log and starting a run wait for the writes before them.
// Nothing here throws: a file that cannot be read counts as absent, a failed write is logged.
class Diary {
 public:
  enum class Level { warning, error };
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  static constexpr std::size_t maxSteps = 10;
  static constexpr std::size_t maxStepLength = 120;
  static constexpr std::size_t maxMessageLength = 500;
  static constexpr std::chrono::seconds logLifetime{604800};
  static constexpr std::size_t maxErrorLogBytes = 262144;

  explicit Diary(
      std::filesystem::path folder, Clock clock = [] { return std::chrono::system_clock::now(); });

  // Takes the previous run's steps and the last error from the files, removes "steps.json" so
  // that this run starts without steps, and drops log lines older than logLifetime.
  void startRun();
  void note(std::string_view text);
  void log(std::string_view text, bool shown, Level level);
  // The whole log when it is at most maxErrorLogBytes, else its newest whole lines that fit.
  std::string errorLog() const;

  const std::vector<std::string>& steps() const { return steps_; }
  const std::vector<std::string>& previousSteps() const { return previousSteps_; }
  const std::optional<LastError>& lastError() const { return lastError_; }

 private:
  struct Stored {
    std::vector<std::string> steps;
    std::optional<LastError> lastError;
  };

  std::filesystem::path file(const char* name) const { return folder_ / name; }
  Stored readAndResetRun() const;
  void pruneLog(std::chrono::system_clock::time_point now) const;
  void writeSteps(const std::vector<std::string>& steps) const;
  void writeLastError(const LastError& error) const;
  void appendLine(const std::string& line) const;
  // Runs `job` on the write queue after the writes before it and returns its result.
  template <typename Result>
  Result onQueue(std::function<Result()> job) const;

  std::filesystem::path folder_;
  Clock clock_;
  std::vector<std::string> steps_;
  std::vector<std::string> previousSteps_;
  std::optional<LastError> lastError_;
  // Last, so that it finishes the waiting writes before the members they use go away.
  mutable ferrytide::SerialQueue writes_;
};

}  // namespace plinth
