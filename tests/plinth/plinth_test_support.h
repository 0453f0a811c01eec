#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWidget>
#include <chrono>
#include <functional>

namespace ferrytide::plinth::testing {

inline bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// With FERRYTIDE_PLINTH_SHOTS set to a folder, saves what `widget` shows as <name>.png there,
// for a person to look at.
inline void shoot(QWidget* widget, const QString& name) {
  QString folder = qEnvironmentVariable("FERRYTIDE_PLINTH_SHOTS");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  QCoreApplication::processEvents();
  widget->grab().save(folder + QStringLiteral("/") + name + QStringLiteral(".png"));
}

}  // namespace ferrytide::plinth::testing
