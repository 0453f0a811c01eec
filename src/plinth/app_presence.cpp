#include "plinth/app_presence.h"

#include <QGuiApplication>

namespace ferrytide::plinth {

AppPresence::AppPresence(QObject* parent) : QObject(parent) {
  // The tray icon is the application; its last window closing must not end it.
  QGuiApplication::setQuitOnLastWindowClosed(false);
}

void AppPresence::windowOpened() {
  ++openWindows_;
  setPresent(true);
}

void AppPresence::update() {
  if (openWindows_ > 0) --openWindows_;
  setPresent(openWindows_ > 0 || (keeps && keeps()));
}

void AppPresence::setPresent(bool present) {
  if (present == present_) return;
  present_ = present;
  Q_EMIT presenceChanged(present_);
}

}  // namespace ferrytide::plinth
