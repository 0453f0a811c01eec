#include "menu/models/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "core/support/log.h"

namespace ferrytide::menu {

void postToMainThread(std::function<void()> work) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) {
    Logger("main-thread").error("no application object: work for the main thread is dropped");
    return;
  }
  QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

}  // namespace ferrytide::menu
