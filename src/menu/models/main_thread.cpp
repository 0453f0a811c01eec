#include "menu/models/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <memory>

#include "core/support/log.h"

#if defined(__SANITIZE_THREAD__)
#define FERRYTIDE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FERRYTIDE_THREAD_SANITIZER 1
#endif
#endif

#ifdef FERRYTIDE_THREAD_SANITIZER
extern "C" {
void __tsan_acquire(void* address);
void __tsan_release(void* address);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}
#endif

namespace ferrytide::menu {

namespace {

// Qt hands a posted call to the main thread under its own locks. Qt is not built with
// ThreadSanitizer, so the sanitizer cannot see that hand-off and would take everything the work
// touches for a race. These mark it: the poster releases the work before Qt stores it, the main
// thread acquires it before running it, and what Qt's inline code writes in between, while it
// stores the call, is not recorded.
void releaseToMainThread([[maybe_unused]] void* work) {
#ifdef FERRYTIDE_THREAD_SANITIZER
  __tsan_release(work);
  __tsan_ignore_thread_begin();
#endif
}

void handedToQt() {
#ifdef FERRYTIDE_THREAD_SANITIZER
  __tsan_ignore_thread_end();
#endif
}

void acquireOnMainThread([[maybe_unused]] void* work) {
#ifdef FERRYTIDE_THREAD_SANITIZER
  __tsan_acquire(work);
#endif
}

}  // namespace

void postToMainThread(std::function<void()> work) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) {
    Logger("main-thread").error("no application object: work for the main thread is dropped");
    return;
  }
  // The posted call owns the work alone: this thread keeps no reference, so the work is run
  // and freed on the main thread, never freed here after the main thread has run it.
  auto posted = std::make_shared<std::function<void()>>(std::move(work));
  releaseToMainThread(posted.get());
  QMetaObject::invokeMethod(
      application,
      [posted = std::move(posted)] {
        acquireOnMainThread(posted.get());
        (*posted)();
      },
      Qt::QueuedConnection);
  handedToQt();
}

}  // namespace ferrytide::menu
