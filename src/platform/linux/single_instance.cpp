#include "platform/linux/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace ferrytide::platform {
namespace {

// org.freedesktop.DBus.RequestName flags and answers.
constexpr uint kAllowReplacement = 0x1;
constexpr uint kReplaceExisting = 0x2;
constexpr uint kDoNotQueue = 0x4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

}  // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QString name, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
  if (claimed_) bus_.unregisterService(name_);
}

bool SingleInstance::claimFirst() { return claim(false); }

bool SingleInstance::claimNewest() { return claim(true); }

bool SingleInstance::claim(bool replaceRunning) {
  if (claimed_) return true;
  if (!bus_.isConnected()) {
    error_ = QStringLiteral("no session bus: ") + bus_.lastError().message();
    return false;
  }
  uint flags = kDoNotQueue | (replaceRunning ? kAllowReplacement | kReplaceExisting : 0);
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
  call << name_ << flags;
  QDBusReply<uint> reply = bus_.call(call);
  if (!reply.isValid()) {
    error_ = reply.error().message();
    return false;
  }
  if (reply.value() != kPrimaryOwner && reply.value() != kAlreadyOwner) {
    error_ = QStringLiteral("the name is taken");
    return false;
  }
  claimed_ = true;
  bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
               QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameLost"), this,
               SLOT(onNameLost(QString)));
  return true;
}

std::optional<quint32> SingleInstance::holderPid() const {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return std::nullopt;
  QDBusReply<uint> pid = bus_.interface()->servicePid(name_);
  if (!pid.isValid()) return std::nullopt;
  return pid.value();
}

void SingleInstance::onNameLost(const QString& name) {
  if (name != name_ || !claimed_) return;
  claimed_ = false;
  Q_EMIT replaced();
}

}  // namespace ferrytide::platform
