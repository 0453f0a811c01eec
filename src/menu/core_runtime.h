#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <asio.hpp>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>  // std::monostate

#include "menu/models/main_thread.h"

namespace ferrytide::menu {

// The one network thread of the application: an io_context that every listener, send and
// pairing of the core runs on. Coroutines are started from the main thread and report back to
// it; nothing of the application's state is touched on the network thread.
class CoreRuntime {
 public:
  // A started coroutine, as its starter holds it. Only for the main thread.
  class Task {
   public:
    Task() = default;
    // The coroutine's current wait ends with asio::error::operation_aborted; what the
    // coroutine makes of that is reported as usual.
    void cancel() const;

   private:
    friend class CoreRuntime;
    struct State;
    Task(CoreRuntime* runtime, std::weak_ptr<State> state)
        : runtime_(runtime), state_(std::move(state)) {}
    CoreRuntime* runtime_ = nullptr;
    std::weak_ptr<State> state_;
  };

  CoreRuntime();
  // Ends the network thread at once; coroutines still running are dropped unreported.
  ~CoreRuntime();

  CoreRuntime(const CoreRuntime&) = delete;
  CoreRuntime& operator=(const CoreRuntime&) = delete;

  asio::any_io_executor executor() { return io_.get_executor(); }

  // The text of a failure that onFailed received: its what(), else "unknown error".
  static QString describe(std::exception_ptr failure);

  // Runs `work` on the network thread. Its result goes to onResult(value) (onResult() for a
  // coroutine without a result) and its exception to onFailed(std::exception_ptr), both on
  // the main thread and only while `owner` exists. When `owner` is destroyed first, the
  // coroutine is cancelled and nothing is delivered. Call from the main thread.
  template <typename T, typename OnResult, typename OnFailed>
  Task start(QObject* owner, asio::awaitable<T> work, OnResult onResult, OnFailed onFailed);

 private:
  std::shared_ptr<Task::State> makeState(QObject* owner);
  void cancel(const std::shared_ptr<Task::State>& state);
  static std::shared_ptr<asio::cancellation_signal> signalOf(
      const std::shared_ptr<Task::State>& state);
  static bool deliverable(const std::shared_ptr<Task::State>& state);

  template <typename T>
  static asio::awaitable<std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>>>
  wrapped(asio::awaitable<T> work) {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(work);
      co_return std::monostate{};
    } else {
      co_return co_await std::move(work);
    }
  }

  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> keepRunning_;
  // Lives on the main thread; owner-gone connections end with it.
  std::unique_ptr<QObject> relay_;
  std::thread thread_;
};

template <typename T, typename OnResult, typename OnFailed>
CoreRuntime::Task CoreRuntime::start(QObject* owner, asio::awaitable<T> work, OnResult onResult,
                                     OnFailed onFailed) {
  std::shared_ptr<Task::State> state = makeState(owner);
  std::shared_ptr<asio::cancellation_signal> signal = signalOf(state);
  // The network thread keeps only the signal. The state belongs to the main thread: it travels
  // back with the report, so that it ends there.
  auto finish = [signal, state, onResult = std::move(onResult), onFailed = std::move(onFailed)](
                    std::exception_ptr failure, auto result) mutable {
    postToMainThread([state = std::move(state), failure, result = std::move(result),
                      onResult = std::move(onResult), onFailed = std::move(onFailed)]() mutable {
      if (!deliverable(state)) return;
      if (failure) {
        onFailed(failure);
      } else if constexpr (std::is_void_v<T>) {
        onResult();
      } else {
        onResult(std::move(*result));
      }
    });
  };
  // Started on the network thread, so that the cancellation slot is only ever touched there.
  asio::post(io_, [this, signal, work = std::move(work), finish = std::move(finish)]() mutable {
    asio::co_spawn(io_, wrapped<T>(std::move(work)),
                   asio::bind_cancellation_slot(signal->slot(), std::move(finish)));
  });
  return Task(this, state);
}

}  // namespace ferrytide::menu
