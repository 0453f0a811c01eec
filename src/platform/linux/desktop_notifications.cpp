#include "platform/linux/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include "core/support/log.h"

namespace ferrytide::platform {
namespace {

const Logger kLog("notifications");
constexpr int kCallTimeoutMs = 5000;

QString latin1(const char* text) { return QString::fromLatin1(text); }

void logInstead(const DesktopNotifications::Notice& notice, const QString& why) {
  kLog.info(QStringLiteral("notice not shown (%1): %2: %3")
                .arg(why, notice.summary, notice.body)
                .toStdString());
}

}  // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  bus_.connect(latin1(service), latin1(path), latin1(service), QStringLiteral("ActionInvoked"),
               this, SLOT(onActionInvoked(uint, QString)));
  bus_.connect(latin1(service), latin1(path), latin1(service), QStringLiteral("NotificationClosed"),
               this, SLOT(onClosed(uint, uint)));
}

void DesktopNotifications::post(const QString& key, const Notice& notice) {
  if (!bus_.isConnected()) {
    logInstead(notice, QStringLiteral("no session bus"));
    QTimer::singleShot(0, this, [this, key] { Q_EMIT closed(key); });
    return;
  }
  Shown& shown = shown_[key];
  // Its id is still on the way: the replacement follows once it is known.
  if (shown.waitingForId) {
    shown.queued = notice;
    shown.closeWhenKnown = false;
    return;
  }
  send(key, notice);
}

void DesktopNotifications::close(const QString& key) {
  auto found = shown_.find(key);
  if (found == shown_.end()) return;
  if (found->second.waitingForId) {
    found->second.queued.reset();
    found->second.closeWhenKnown = true;
    return;
  }
  closeOnServer(found->second.serverId);
  shown_.erase(found);
}

void DesktopNotifications::closeOnServer(uint serverId) {
  if (serverId == 0) return;
  QDBusMessage call = QDBusMessage::createMethodCall(latin1(service), latin1(path), latin1(service),
                                                     QStringLiteral("CloseNotification"));
  call << serverId;
  bus_.asyncCall(call, kCallTimeoutMs);
}

void DesktopNotifications::send(const QString& key, const Notice& notice) {
  Shown& shown = shown_[key];
  shown.waitingForId = true;
  QDBusMessage call = QDBusMessage::createMethodCall(latin1(service), latin1(path), latin1(service),
                                                     QStringLiteral("Notify"));
  call << QStringLiteral("Ferrytide") << shown.serverId << QStringLiteral("ferrytide")
       << notice.summary << notice.body << notice.actions << notice.hints << notice.expireTimeoutMs;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, key, notice](QDBusPendingCallWatcher* finished) {
            QDBusPendingReply<uint> reply = *finished;
            finished->deleteLater();
            if (reply.isError()) {
              answered(key, std::nullopt, reply.error().message(), notice);
            } else {
              answered(key, reply.value(), {}, notice);
            }
          });
}

void DesktopNotifications::answered(const QString& key, std::optional<uint> serverId,
                                    const QString& error, const Notice& notice) {
  Shown& shown = shown_[key];
  shown.waitingForId = false;
  if (serverId) {
    shown.serverId = *serverId;
  } else {
    logInstead(notice, error);
  }
  if (shown.closeWhenKnown) {
    if (serverId) closeOnServer(*serverId);
    shown_.erase(key);
    return;
  }
  if (shown.queued) {
    Notice next = std::move(*shown.queued);
    shown.queued.reset();
    send(key, next);
  } else if (!serverId) {
    shown_.erase(key);
    Q_EMIT closed(key);
  }
}

std::optional<QString> DesktopNotifications::keyOf(uint serverId) const {
  for (const auto& [key, shown] : shown_) {
    if (shown.serverId == serverId && serverId != 0) return key;
  }
  return std::nullopt;
}

void DesktopNotifications::onActionInvoked(uint id, const QString& action) {
  if (std::optional<QString> key = keyOf(id)) Q_EMIT actionInvoked(*key, action);
}

void DesktopNotifications::onClosed(uint id, uint /*reason*/) {
  std::optional<QString> key = keyOf(id);
  if (!key) return;
  shown_.erase(*key);
  Q_EMIT closed(*key);
}

}  // namespace ferrytide::platform
