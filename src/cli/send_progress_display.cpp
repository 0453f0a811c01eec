#include "cli/send_progress_display.h"

#include <algorithm>
#include <cmath>

namespace ferrytide::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string formatDuration(double seconds) {
  long total = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace

std::string formatBytes(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string progressBarLine(std::int64_t sent, std::int64_t total, std::int64_t sessionBytes,
                            double elapsedSeconds) {
  double fraction = total > 0 ? std::clamp(static_cast<double>(sent) / total, 0.0, 1.0) : 1.0;
  int filled = static_cast<int>(fraction * kBarWidth);
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  line += "]  ";
  line += formatBytes(sent) + " / " + formatBytes(total);
  if (elapsedSeconds < 0.2 || sessionBytes <= 0) return line + "  -  ETA -";
  double rate = static_cast<double>(sessionBytes) / elapsedSeconds;
  line += "  " + formatBytes(static_cast<std::int64_t>(rate)) + "/s";
  line += "  ETA " +
          formatDuration(static_cast<double>(std::max<std::int64_t>(total - sent, 0)) / rate);
  return line;
}

SendProgressDisplay::SendProgressDisplay(std::string fileName, std::FILE* out, bool terminal)
    : fileName_(std::move(fileName)), out_(out), terminal_(terminal) {}

void SendProgressDisplay::onWaking() {
  std::fprintf(out_, "%s: waking the phone\n", fileName_.c_str());
  std::fflush(out_);
}

void SendProgressDisplay::onProgress(std::int64_t bytesSent, std::int64_t totalBytes) {
  Clock::time_point now = Clock::now();
  if (!started_) {
    // The first call carries the accepted offset: rate and ETA count only this session's bytes.
    started_ = true;
    startOffset_ = bytesSent;
    startTime_ = now;
    if (bytesSent > 0) {
      std::fprintf(out_, "%s: resuming at %s\n", fileName_.c_str(), formatBytes(bytesSent).c_str());
    }
  }
  if (terminal_) {
    bool last = bytesSent >= totalBytes;
    if (!last && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    double elapsed = std::chrono::duration<double>(now - startTime_).count();
    std::string line = progressBarLine(bytesSent, totalBytes, bytesSent - startOffset_, elapsed);
    std::fprintf(out_, "\r\033[K%s %s", fileName_.c_str(), line.c_str());
  } else {
    int tenth = totalBytes > 0 ? static_cast<int>(bytesSent * 10 / totalBytes) : 10;
    if (tenth == lastTenth_) return;
    lastTenth_ = tenth;
    std::fprintf(out_, "%s: %d%% (%s of %s)\n", fileName_.c_str(), tenth * 10,
                 formatBytes(bytesSent).c_str(), formatBytes(totalBytes).c_str());
  }
  std::fflush(out_);
}

void SendProgressDisplay::finish() {
  if (terminal_ && started_) std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace ferrytide::cli
