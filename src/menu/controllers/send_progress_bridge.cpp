#include "menu/controllers/send_progress_bridge.h"

#include <utility>

namespace ferrytide::menu {

SendProgressBridge::SendProgressBridge(std::int64_t base, SendPhase::Progress current, Emit emit,
                                       SendDuration interval, Clock clock)
    : base_(base),
      current_(current),
      emit_(std::move(emit)),
      interval_(interval),
      clock_(std::move(clock)) {}

void SendProgressBridge::onWaking() { emit_(true, current_); }

void SendProgressBridge::onProgress(std::int64_t bytesSent, std::int64_t totalBytes) {
  if (!due(bytesSent, totalBytes)) return;
  SendPhase::Progress progress = current_;
  progress.bytesDone = base_ + bytesSent;
  emit_(false, progress);
}

bool SendProgressBridge::due(std::int64_t bytesSent, std::int64_t totalBytes) {
  const auto now = clock_();
  std::lock_guard guard(lock_);
  const bool last = bytesSent >= totalBytes;
  if (!last && lastEmit_ && now - *lastEmit_ < interval_) return false;
  lastEmit_ = now;
  return true;
}

}  // namespace ferrytide::menu
