#pragma once

#include <QObject>
#include <functional>

namespace ferrytide::plinth {

// Whether the application shows itself beyond its tray icon: while at least one hosted window
// is open, or while `keeps` says so. Without any, the application is a tray-only application,
// and closing its last window never quits it. The tray application owns one and hands it to
// every hosted window; `presenceChanged` lets it list itself in the task bar, for example.
class AppPresence : public QObject {
  Q_OBJECT

 public:
  explicit AppPresence(QObject* parent = nullptr);

  // When set and true, the application stays present with no window open.
  std::function<bool()> keeps;

  void windowOpened();
  // A hosted window closed: one window fewer, then presence is decided again.
  void update();

  int openWindows() const { return openWindows_; }
  bool isPresent() const { return present_; }

 Q_SIGNALS:
  void presenceChanged(bool present);

 private:
  void setPresent(bool present);

  int openWindows_ = 0;
  bool present_ = false;
};

}  // namespace ferrytide::plinth
