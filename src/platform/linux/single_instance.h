#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

namespace ferrytide::platform {

// One running copy per user, by a well-known name on the session bus.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* busName = "com.quenfold.ferrytide";

  explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QString name = QString::fromLatin1(busName), QObject* parent = nullptr);
  ~SingleInstance() override;

  // The first copy keeps the name. False when another process holds it (holderPid() says
  // which) or when there is no session bus (error() says why).
  bool claimFirst();
  // The newest copy wins: takes the name from a running one, which gets `replaced`.
  bool claimNewest();

  std::optional<quint32> holderPid() const;
  const QString& error() const { return error_; }

 Q_SIGNALS:
  // A newer copy has taken the name.
  void replaced();

 private Q_SLOTS:
  void onNameLost(const QString& name);

 private:
  bool claim(bool replaceRunning);

  QDBusConnection bus_;
  QString name_;
  QString error_;
  bool claimed_ = false;
};

}  // namespace ferrytide::platform
