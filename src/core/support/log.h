#pragma once

// Diagnostics under the subsystem "com.quenfold.ferrytide", one category per component.
// They go to stderr when it is a terminal (or FERRYTIDE_LOG_STDERR is set) and to syslog
// otherwise.

#include <string>
#include <string_view>

namespace ferrytide {

class Logger {
 public:
  enum class Level { debug, info, warning, error };

  explicit Logger(std::string category) : category_(std::move(category)) {}

  void debug(std::string_view message) const { write(Level::debug, message); }
  void info(std::string_view message) const { write(Level::info, message); }
  void warning(std::string_view message) const { write(Level::warning, message); }
  void error(std::string_view message) const { write(Level::error, message); }

  const std::string& category() const { return category_; }

 private:
  void write(Level level, std::string_view message) const;
  std::string category_;
};

}  // namespace ferrytide
