#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "menu/models/preferences.h"
#include "platform/linux/desktop_launcher.h"
#include "platform/linux/desktop_notifications.h"

namespace ferrytide::menu {

// Every notice the application shows, and what a click on one does. Files that arrive from
// one phone in quick succession share one notice that grows in place.
class Notifier : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;

  // Files from the same phone less than this apart join the notice already shown.
  static constexpr qint64 batchWindowMs = 2000;
  // Retry actions kept for send-failure notices; a click on an older one does nothing.
  static constexpr std::size_t maxRetries = 8;

  Notifier(Preferences& prefs, platform::DesktopNotifications& notices,
           platform::DesktopLauncher launcher, Clock clock = &QDateTime::currentDateTimeUtc,
           QObject* parent = nullptr);

  // Installed by the application: open the popover on the Clips tab; open the problem report.
  std::function<void()> onShowClips;
  std::function<void()> onShowReport;
  // Installed by problem reports: a step and an error worth a report.
  std::function<void(const QString&)> noteStep;
  std::function<void(const QString&)> recordError;

  // A short notice ("Shortcut unavailable", "Not sent"), shown whatever the preferences say.
  void message(const QString& title, const QString& body);
  void fileReceived(const std::filesystem::path& file, std::int64_t bytes, const QString& from);
  void textReceived(const QString& text, const QString& from, bool copied);
  // Without `retry` the notice has no "Try Again".
  void sendFailed(const QString& to, std::function<void()> retry = {});
  void crashFound();

  // "IMG_1.jpg from Pixel", "3 photos from Pixel", "2 videos from …", "4 files from …".
  static QString filesTitle(const std::vector<std::filesystem::path>& files,
                            const QString& peerName);
  // Whether the default application may open the file on a click without surprises: images,
  // videos, sound, PDF and plain text; never a program, a script, a launcher or a web page.
  static bool isSafeToOpen(const std::filesystem::path& file);

 private:
  struct Batch {
    QString key;
    QString peerName;
    std::vector<std::filesystem::path> files;
    std::int64_t bytes = 0;
    QDateTime last;
  };
  // What a shown notice needs for a click.
  struct Shown {
    QString category;
    std::vector<std::filesystem::path> files;
  };

  void post(const QString& key, const QString& category, const QString& title, const QString& body,
            const QStringList& actions, bool sound = true);
  void onAction(const QString& key, const QString& action);
  void openFiles(const Shown& shown, const QString& action) const;
  void runRetry(const QString& key);

  Preferences& prefs_;
  platform::DesktopNotifications& notices_;
  platform::DesktopLauncher launcher_;
  Clock clock_;
  std::optional<Batch> batch_;
  std::map<QString, Shown> shown_;
  std::map<QString, std::function<void()>> retries_;
  std::deque<QString> retryOrder_;
};

}  // namespace ferrytide::menu
