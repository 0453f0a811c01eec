#include "menu/core_runtime.h"

#include "core/support/log.h"

namespace ferrytide::menu {

QString CoreRuntime::describe(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return QString::fromStdString(error.what());
  } catch (...) {
    return QStringLiteral("unknown error");
  }
}

struct CoreRuntime::Task::State {
  // Used on the network thread only, and held there for as long as the coroutine runs.
  std::shared_ptr<asio::cancellation_signal> cancel = std::make_shared<asio::cancellation_signal>();
  QPointer<QObject> owner;            // main thread only
  QMetaObject::Connection ownerGone;  // main thread only
};

void CoreRuntime::Task::cancel() const {
  if (std::shared_ptr<State> state = state_.lock()) runtime_->cancel(state);
}

CoreRuntime::CoreRuntime()
    : keepRunning_(asio::make_work_guard(io_)),
      relay_(std::make_unique<QObject>()),
      thread_([this] {
        for (;;) {
          try {
            io_.run();
            return;
          } catch (const std::exception& error) {
            Logger("core-runtime").error(std::string("network thread: ") + error.what());
          }
        }
      }) {}

CoreRuntime::~CoreRuntime() {
  keepRunning_.reset();
  io_.stop();
  thread_.join();
}

std::shared_ptr<CoreRuntime::Task::State> CoreRuntime::makeState(QObject* owner) {
  auto state = std::make_shared<Task::State>();
  state->owner = owner;
  std::weak_ptr<Task::State> weak = state;
  state->ownerGone = QObject::connect(owner, &QObject::destroyed, relay_.get(), [this, weak] {
    if (std::shared_ptr<Task::State> running = weak.lock()) cancel(running);
  });
  return state;
}

void CoreRuntime::cancel(const std::shared_ptr<Task::State>& state) {
  asio::post(io_, [signal = signalOf(state)] { signal->emit(asio::cancellation_type::terminal); });
}

std::shared_ptr<asio::cancellation_signal> CoreRuntime::signalOf(
    const std::shared_ptr<Task::State>& state) {
  return state->cancel;
}

bool CoreRuntime::deliverable(const std::shared_ptr<Task::State>& state) {
  QObject::disconnect(state->ownerGone);
  return !state->owner.isNull();
}

}  // namespace ferrytide::menu
