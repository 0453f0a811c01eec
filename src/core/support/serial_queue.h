#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ferrytide {

// A worker thread that runs jobs one at a time in the order they were added: the file work of
// a store leaves the caller's thread but its writes still reach the disk in order.
// Destruction runs the jobs still waiting (the last save of a store is never dropped), then ends.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }
  // From any thread. A job that throws is logged and the queue goes on.
  void run(std::function<void()> job);

 private:
  void work();

  std::string label_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace ferrytide
