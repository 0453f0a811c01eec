#include "menu/core_runtime.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <stdexcept>

#include "menu/qt_wait.h"
#include "support/failure_text.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::failureText;
using testing::processEventsUntil;

// Waits for an hour unless cancelled; tells when its frame is gone.
asio::awaitable<int> waitLong(std::atomic<bool>& ended) {
  struct Ending {
    std::atomic<bool>& flag;
    ~Ending() { flag = true; }
  } ending{ended};
  asio::steady_timer timer(co_await asio::this_coro::executor, 1h);
  co_await timer.async_wait(asio::use_awaitable);
  co_return 1;
}

class CoreRuntimeTest : public ::testing::Test {
 protected:
  CoreRuntime runtime;
  QObject owner;
  std::thread::id mainThread = std::this_thread::get_id();
};

TEST_F(CoreRuntimeTest, ResultsAndFailuresArriveOnTheMainThread) {
  std::atomic<std::thread::id> ranOn;
  auto answer = [&]() -> asio::awaitable<int> {
    ranOn = std::this_thread::get_id();
    co_return 42;
  };
  std::optional<int> result;
  std::thread::id deliveredOn;
  runtime.start(
      &owner, answer(),
      [&](int value) {
        result = value;
        deliveredOn = std::this_thread::get_id();
      },
      [](std::exception_ptr) { FAIL(); });
  ASSERT_TRUE(processEventsUntil([&] { return result.has_value(); }));
  EXPECT_EQ(*result, 42);
  EXPECT_NE(ranOn.load(), mainThread);
  EXPECT_EQ(deliveredOn, mainThread);

  auto fail = []() -> asio::awaitable<void> {
    throw std::runtime_error("listener start failed: port taken");
    co_return;
  };
  std::string failure;
  bool succeeded = false;
  runtime.start(
      &owner, fail(), [&] { succeeded = true; },
      [&](std::exception_ptr error) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        failure = failureText(error);
      });
  ASSERT_TRUE(processEventsUntil([&] { return !failure.empty(); }));
  EXPECT_EQ(failure, "listener start failed: port taken");
  EXPECT_FALSE(succeeded);
}

TEST_F(CoreRuntimeTest, CancelledCoroutineReportsTheAbort) {
  std::atomic<bool> ended{false};
  std::string failure;
  CoreRuntime::Task task = runtime.start(
      &owner, waitLong(ended), [](int) { FAIL() << "a cancelled wait gave a result"; },
      [&](std::exception_ptr error) { failure = failureText(error); });
  task.cancel();
  ASSERT_TRUE(processEventsUntil([&] { return !failure.empty(); }));
  EXPECT_EQ(failure, asio::system_error(asio::error::operation_aborted).what());
  EXPECT_TRUE(ended);
  task.cancel();  // after the end: nothing happens
}

TEST_F(CoreRuntimeTest, OwnerDestroyedFirstCancelsAndDeliversNothing) {
  std::atomic<bool> ended{false};
  bool delivered = false;
  auto doomed = std::make_unique<QObject>();
  runtime.start(
      doomed.get(), waitLong(ended), [&](int) { delivered = true; },
      [&](std::exception_ptr) { delivered = true; });
  doomed.reset();
  ASSERT_TRUE(processEventsUntil([&] { return ended.load(); }));

  // A coroutine reports in the same network-thread step in which its frame ends, so the
  // cancelled one posted its report before this marker was even started.
  bool marker = false;
  auto mark = []() -> asio::awaitable<void> { co_return; };
  runtime.start(
      &owner, mark(), [&] { marker = true; }, [](std::exception_ptr) {});
  ASSERT_TRUE(processEventsUntil([&] { return marker; }));
  EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace ferrytide::menu
