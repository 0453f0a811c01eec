#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <optional>

namespace ferrytide::platform {

// Notices through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Each notice has a key of ours; posting under a key that is already shown
// replaces that notice in place. Calls never wait for the server: without a server (a bare
// session, no session bus) a notice goes to the log and nothing fails.
class DesktopNotifications : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* service = "org.freedesktop.Notifications";
  static constexpr const char* path = "/org/freedesktop/Notifications";
  // The action a server reports for a click on the notice itself.
  static constexpr const char* defaultAction = "default";

  struct Notice {
    QString summary;
    QString body;
    // Pairs of action key and label, as the server wants them.
    QStringList actions;
    QVariantMap hints;
    // -1: as long as the server likes; 0: until the user or close() takes it away.
    int expireTimeoutMs = -1;
  };

  explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);

  // Shows the notice, or replaces the one shown under `key`.
  void post(const QString& key, const Notice& notice);
  // Takes the notice shown under `key` off the screen; `closed` is not emitted for it.
  void close(const QString& key);

 Q_SIGNALS:
  // The user chose `action` on the notice posted under `key`.
  void actionInvoked(const QString& key, const QString& action);
  // The notice is gone from the screen, or never made it there (no server); nothing can be
  // chosen on it any more.
  void closed(const QString& key);

 private Q_SLOTS:
  void onActionInvoked(uint id, const QString& action);
  void onClosed(uint id, uint reason);

 private:
  struct Shown {
    uint serverId = 0;  // 0 until the server has answered the first post
    bool waitingForId = false;
    std::optional<Notice> queued;  // a replacement posted while waiting
    bool closeWhenKnown = false;    // closed while its id was on the way
  };

  void send(const QString& key, const Notice& notice);
  void closeOnServer(uint serverId);
  void answered(const QString& key, std::optional<uint> serverId, const QString& error,
                const Notice& notice);
  std::optional<QString> keyOf(uint serverId) const;

  QDBusConnection bus_;
  std::map<QString, Shown> shown_;
};

}  // namespace ferrytide::platform
