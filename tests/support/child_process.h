#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ferrytide::testing {

using Environment = std::map<std::string, std::string>;

// One program run as a child process, standard output and error merged into one text that the
// test can wait on. Standard input is a pipe the test may write to. The destructor kills the
// process if it still runs and reaps it, so a failing test leaves nothing behind.
class ChildProcess {
 public:
  // `environment` is added to (and overrides) this process's own environment.
  ChildProcess(std::vector<std::string> arguments, const Environment& environment);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Waits until the output contains `text`; false when the time runs out or the process ended
  // without printing it.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);

  // Waits for a whole line that starts with `prefix` (a program may write a line in several
  // pieces) and returns the rest of it; nothing when the time runs out or the process ended.
  std::optional<std::string> waitForLine(const std::string& prefix,
                                         std::chrono::milliseconds timeout);

  // Waits for the process to end; its exit status (128 + signal when killed), or nothing when
  // the time runs out.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

  void writeInput(const std::string& text);
  void signal(int number);
  std::string output() const;
  pid_t pid() const { return pid_; }

 private:
  void readOutput(int fd);

  pid_t pid_ = -1;
  int inputFd_ = -1;
  std::optional<int> exitStatus_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool outputClosed_ = false;
  std::thread reader_;
};

struct Finished {
  int exitStatus = -1;
  std::string output;
};

// Runs a program to its end (killed after `timeout`, which then fails the status check).
Finished runToExit(std::vector<std::string> arguments, const Environment& environment,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A TCP port on 127.0.0.1 that was free a moment ago: for programs that take a port to announce
// before they listen.
std::uint16_t freeLoopbackPort();

}  // namespace ferrytide::testing
