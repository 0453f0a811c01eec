#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "core/transfer/send_transfer.h"
#include "menu/controllers/send_phase.h"

namespace ferrytide::menu {

// The progress receiver of one file's send: turns the sender's byte counts into progress of the
// whole send and lets through at most one update per interval, so that a fast transfer does not
// flood the user interface. The first update and the last one of a file (all bytes sent) always
// pass. Called from the sending coroutine; `emit` runs there too.
class SendProgressBridge : public SendProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // True while the phone is being woken.
  using Emit = std::function<void(bool waking, const SendPhase::Progress& progress)>;

  // Fifteen updates a second.
  static constexpr SendDuration defaultInterval = std::chrono::nanoseconds(1'000'000'000 / 15);

  // `base`: bytes of the earlier files of this phone; `current`: the progress at the start of
  // this file.
  SendProgressBridge(std::int64_t base, SendPhase::Progress current, Emit emit,
                     SendDuration interval = defaultInterval,
                     Clock clock = &std::chrono::steady_clock::now);

  void onWaking() override;
  void onProgress(std::int64_t bytesSent, std::int64_t totalBytes) override;

 private:
  bool due(std::int64_t bytesSent, std::int64_t totalBytes);

  std::int64_t base_;
  SendPhase::Progress current_;
  Emit emit_;
  SendDuration interval_;
  Clock clock_;
  std::mutex lock_;
  std::optional<std::chrono::steady_clock::time_point> lastEmit_;
};

}  // namespace ferrytide::menu
