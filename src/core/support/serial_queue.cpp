#include "core/support/serial_queue.h"

#include <exception>

#include "core/support/log.h"

namespace ferrytide {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), thread_([this] { work(); }) {}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard guard(lock_);
    ending_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void SerialQueue::run(std::function<void()> job) {
  {
    std::lock_guard guard(lock_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void SerialQueue::work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock guard(lock_);
      wake_.wait(guard, [this] { return ending_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    try {
      job();
    } catch (const std::exception& error) {
      Logger(label_).error(std::string("job failed: ") + error.what());
    }
  }
}

}  // namespace ferrytide
