#pragma once

#include <QPointer>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QSettings;
class QWidget;

namespace ferrytide::plinth {

class AppPresence;

// One ordinary top-level window around a content widget that `content` makes on the first
// show(). The window remembers its geometry under `autosaveName` in `settings` and opens centred
// on its screen when nothing was saved. Closing hides it: it is kept, with its content, for the
// next show(). While it is open it counts towards the application's presence.
class HostedWindow {
 public:
  // The window takes ownership of the widget made.
  using ContentFactory = std::function<QWidget*()>;

  HostedWindow(QSize size, QString autosaveName, bool resizable, ContentFactory content,
               AppPresence& presence, QSettings& settings);
  HostedWindow(const HostedWindow&) = delete;
  HostedWindow& operator=(const HostedWindow&) = delete;
  ~HostedWindow();

  // Called after the window closed, before the presence is updated.
  std::function<void()> onClose;

  // Makes the window on first use, then shows it (or brings it forward) and activates it.
  void show();
  void close();
  void setTitle(const QString& title);

  bool isOpen() const { return open_; }
  // Null until the first show().
  QWidget* window() const { return window_; }
  QWidget* content() const { return content_; }

  static QString geometryKey(const QString& autosaveName);

 private:
  class Frame;

  void makeWindow();
  void place();
  void closed();

  QSize size_;
  QString autosaveName_;
  bool resizable_;
  ContentFactory makeContent_;
  AppPresence& presence_;
  QSettings& settings_;
  QString title_;
  QPointer<QWidget> window_;
  QWidget* content_ = nullptr;
  bool open_ = false;
};

}  // namespace ferrytide::plinth
