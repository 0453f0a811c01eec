#pragma once

// How `pair` frees the port of a running `receive`: the receiver writes its process id to a
// file in the state folder while it runs, and pair sends that process SIGTERM (which stops the
// receiver cleanly) and waits for it to end. A stale file (the process is gone, or the id now
// belongs to another program) is ignored.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>

namespace ferrytide::cli {

class ReceiverPidFile {
 public:
  explicit ReceiverPidFile(std::filesystem::path path);

  // Writes this process's id; the destructor removes the file if it still holds it.
  void claim();
  ~ReceiverPidFile();
  ReceiverPidFile(const ReceiverPidFile&) = delete;
  ReceiverPidFile& operator=(const ReceiverPidFile&) = delete;

  // The recorded process, when it is alive and is this tool (not this process).
  std::optional<pid_t> runningReceiver() const;

  // Sends the running receiver SIGTERM and waits up to `timeout` for it to end. True when a
  // receiver was running and has ended.
  bool stopRunningReceiver(std::chrono::milliseconds timeout) const;

 private:
  std::optional<pid_t> recordedPid() const;

  std::filesystem::path path_;
  bool claimed_ = false;
};

}  // namespace ferrytide::cli
