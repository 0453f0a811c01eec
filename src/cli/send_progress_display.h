#pragma once

// The progress of one file on its way to the phone: a bar redrawn in place on a terminal, plain
// lines (one per tenth of the file) when the output goes to a file or a pipe.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/transfer/send_transfer.h"

namespace ferrytide::cli {

// "1.5 MiB", "512 B".
std::string formatBytes(std::int64_t bytes);
// "[#######.............]  35.0 MiB / 100.0 MiB  12.3 MiB/s  ETA 0:05". The rate counts the
// bytes of this session (a resumed send starts later); rate and ETA are "-" until some time
// has passed.
std::string progressBarLine(std::int64_t sent, std::int64_t total, std::int64_t sessionBytes,
                            double elapsedSeconds);

class SendProgressDisplay : public SendProgress {
 public:
  SendProgressDisplay(std::string fileName, std::FILE* out, bool terminal);

  void onWaking() override;
  void onProgress(std::int64_t bytesSent, std::int64_t totalBytes) override;
  // Ends the bar's line on a terminal.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;

  std::string fileName_;
  std::FILE* out_;
  bool terminal_;
  bool started_ = false;
  std::int64_t startOffset_ = 0;
  Clock::time_point startTime_;
  Clock::time_point lastDraw_;
  int lastTenth_ = -1;
};

}  // namespace ferrytide::cli
