#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <vector>

namespace ferrytide::testing {

// A notification server and a file manager of the tests' own on the private session bus:
// records every call and sends the signals a user's clicks would.
class FakeNotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    uint id = 0;  // what the server answered
  };

  // False when the bus or the names could not be had.
  bool start();
  void stop();

  const std::vector<Call>& calls() const { return calls_; }
  const std::vector<QStringList>& revealed() const { return revealed_; }
  // The notices the client took away itself.
  const std::vector<uint>& closedByClient() const { return closedByClient_; }

  void click(uint id, const QString& action);
  void close(uint id);

 public Q_SLOTS:
  uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
              const QString& summary, const QString& body, const QStringList& actions,
              const QVariantMap& hints, int timeout);
  QStringList GetCapabilities();
  void CloseNotification(uint id);

 private:
  friend class FakeFileManager;
  void emitSignal(const char* name, const QVariantList& arguments);

  QDBusConnection bus_{QStringLiteral("")};
  std::vector<Call> calls_;
  std::vector<QStringList> revealed_;
  std::vector<uint> closedByClient_;
  uint nextId_ = 1;
  QObject* fileManager_ = nullptr;
};

}  // namespace ferrytide::testing
