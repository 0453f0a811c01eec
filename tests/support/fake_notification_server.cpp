#include "support/fake_notification_server.h"

#include <QDBusMessage>

namespace ferrytide::testing {

// The file manager's one call, recorded by the server that owns it.
class FakeFileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  explicit FakeFileManager(FakeNotificationServer& server) : server_(server) {}

 public Q_SLOTS:
  void ShowItems(const QStringList& uris, const QString& /*startupId*/) {
    server_.revealed_.push_back(uris);
  }

 private:
  FakeNotificationServer& server_;
};

bool FakeNotificationServer::start() {
  // A connection of its own, so that the client's calls really cross the bus.
  bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                       QStringLiteral("fake-notification-server"));
  if (!bus_.isConnected()) return false;
  fileManager_ = new FakeFileManager(*this);
  fileManager_->setParent(this);
  return bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                             QDBusConnection::ExportAllSlots) &&
         bus_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), fileManager_,
                             QDBusConnection::ExportAllSlots) &&
         bus_.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
         bus_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
}

void FakeNotificationServer::stop() {
  bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
  bus_.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
  bus_.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
  QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
}

uint FakeNotificationServer::Notify(const QString& appName, uint replacesId,
                                    const QString& /*appIcon*/, const QString& summary,
                                    const QString& body, const QStringList& actions,
                                    const QVariantMap& hints, int /*timeout*/) {
  uint id = replacesId != 0 ? replacesId : nextId_++;
  calls_.push_back(Call{appName, replacesId, summary, body, actions, hints, id});
  return id;
}

QStringList FakeNotificationServer::GetCapabilities() {
  return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("sound")};
}

void FakeNotificationServer::CloseNotification(uint id) {
  closedByClient_.push_back(id);
  close(id);
}

void FakeNotificationServer::click(uint id, const QString& action) {
  emitSignal("ActionInvoked", {id, action});
}

void FakeNotificationServer::close(uint id) { emitSignal("NotificationClosed", {id, 2u}); }

void FakeNotificationServer::emitSignal(const char* name, const QVariantList& arguments) {
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                   QStringLiteral("org.freedesktop.Notifications"),
                                                   QString::fromLatin1(name));
  signal.setArguments(arguments);
  bus_.send(signal);
}

}  // namespace ferrytide::testing

#include "fake_notification_server.moc"
