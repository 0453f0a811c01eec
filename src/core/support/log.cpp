#include "core/support/log.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace ferrytide {

namespace {
constexpr const char* kSubsystem = "com.quenfold.ferrytide";

bool toStderr() {
  static const bool value = isatty(STDERR_FILENO) == 1 || std::getenv("FERRYTIDE_LOG_STDERR");
  return value;
}

int syslogPriority(Logger::Level level) {
  switch (level) {
    case Logger::Level::debug: return LOG_DEBUG;
    case Logger::Level::info: return LOG_INFO;
    case Logger::Level::warning: return LOG_WARNING;
    case Logger::Level::error: return LOG_ERR;
  }
  return LOG_INFO;
}

const char* levelName(Logger::Level level) {
  switch (level) {
    case Logger::Level::debug: return "debug";
    case Logger::Level::info: return "info";
    case Logger::Level::warning: return "warning";
    case Logger::Level::error: return "error";
  }
  return "info";
}
}  // namespace

void Logger::write(Level level, std::string_view message) const {
  if (toStderr()) {
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fprintf(stderr, "%s [%s] %s: %.*s\n", kSubsystem, category_.c_str(), levelName(level),
                 static_cast<int>(message.size()), message.data());
    return;
  }
  static std::once_flag opened;
  std::call_once(opened, [] { openlog("ferrytide", LOG_PID, LOG_USER); });
  syslog(syslogPriority(level), "[%s] %.*s", category_.c_str(), static_cast<int>(message.size()),
         message.data());
}

}  // namespace ferrytide
