#include "platform/linux/portal_global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <optional>

#include "core/support/log.h"
#include "platform/linux/key_symbols.h"

namespace {

// One entry of BindShortcuts' list, D-Bus type (sa{sv}).
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace ferrytide::platform {
namespace {

const Logger& logger() {
  static const Logger instance("hotkey");
  return instance;
}

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr int kOfferedCheckTimeoutMs = 2000;

// The trigger in the desktop's shortcut notation: "CTRL+ALT+c".
std::optional<QString> triggerFor(std::uint32_t keyCode, std::uint32_t modifiers) {
  std::optional<KeySymbol> symbol = keySymbolForStoredCode(keyCode);
  if (!symbol) return std::nullopt;
  QStringList parts;
  if (modifiers & storedModifier::control) parts << QStringLiteral("CTRL");
  if (modifiers & storedModifier::option) parts << QStringLiteral("ALT");
  if (modifiers & storedModifier::shift) parts << QStringLiteral("SHIFT");
  if (modifiers & storedModifier::command) parts << QStringLiteral("LOGO");
  parts << QString::fromLatin1(symbol->name);
  return parts.join(QLatin1Char('+'));
}

QString shortcutId(std::uint32_t id) { return QStringLiteral("ferrytide-%1").arg(id); }

}  // namespace

std::unique_ptr<PortalGlobalShortcuts> PortalGlobalShortcuts::open(QDBusConnection bus) {
  if (!offered(bus)) return nullptr;
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  return std::unique_ptr<PortalGlobalShortcuts>(new PortalGlobalShortcuts(std::move(bus)));
}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus) : bus_(std::move(bus)) {
  bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
               SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

bool PortalGlobalShortcuts::offered(const QDBusConnection& bus) {
  if (!bus.isConnected()) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kInterface << QStringLiteral("version");
  return bus.call(get, QDBus::Block, kOfferedCheckTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

bool PortalGlobalShortcuts::add(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers) {
  std::optional<QString> trigger = triggerFor(keyCode, modifiers);
  if (!trigger) return false;
  for (const auto& [otherId, taken] : triggers_) {
    if (taken == *trigger) return false;
  }
  triggers_[id] = *trigger;
  if (sessionToken_.isEmpty()) {
    createSession();
  } else if (!session_.isEmpty()) {
    bindAll();
  }
  return true;
}

void PortalGlobalShortcuts::remove(std::uint32_t id) {
  // The portal has no call to drop one shortcut; presses of a removed one are ignored.
  triggers_.erase(id);
}

QString PortalGlobalShortcuts::requestPath(const QString& token) const {
  QString sender = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
  return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString PortalGlobalShortcuts::startRequest(const QString& method, const QList<QVariant>& arguments,
                                            QVariantMap options) {
  QString token = QStringLiteral("ferrytide%1").arg(++requests_);
  // Listening before the call, so that a quick answer is not missed.
  bus_.connect(kService, requestPath(token), kRequestInterface, QStringLiteral("Response"), this,
               SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
  options.insert(QStringLiteral("handle_token"), token);
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  call.setArguments(arguments);
  call << options;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [method](QDBusPendingCallWatcher* done) {
            if (done->isError()) {
              logger().warning("the desktop portal refused " + method.toStdString() + ": " +
                               done->error().message().toStdString());
            }
            done->deleteLater();
          });
  return token;
}

void PortalGlobalShortcuts::createSession() {
  QVariantMap options{{QStringLiteral("session_handle_token"), QStringLiteral("ferrytide")}};
  sessionToken_ = startRequest(QStringLiteral("CreateSession"), {}, options);
}

void PortalGlobalShortcuts::bindAll() {
  QList<PortalShortcut> shortcuts;
  for (const auto& [id, trigger] : triggers_) {
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Ferrytide ") + trigger},
                           {QStringLiteral("preferred_trigger"), trigger}};
    shortcuts.append(PortalShortcut{shortcutId(id), properties});
  }
  startRequest(
      QStringLiteral("BindShortcuts"),
      {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
      {});
}

void PortalGlobalShortcuts::onResponse(uint response, const QVariantMap& results,
                                       const QDBusMessage& message) {
  bus_.disconnect(kService, message.path(), kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
  bool sessionAnswer = message.path() == requestPath(sessionToken_);
  if (response != 0) {
    logger().warning(sessionAnswer
                         ? "the desktop portal made no global shortcuts session: hot keys are off"
                         : "the desktop portal did not bind the hot keys");
    return;
  }
  if (sessionAnswer) onSessionCreated(results);
}

void PortalGlobalShortcuts::onSessionCreated(const QVariantMap& results) {
  QVariant handle = results.value(QStringLiteral("session_handle"));
  session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                  : handle.toString();
  bindAll();
}

void PortalGlobalShortcuts::onActivated(const QDBusObjectPath& session, const QString& id,
                                        qulonglong, const QVariantMap&) {
  if (session.path() != session_) return;
  for (const auto& [registered, trigger] : triggers_) {
    if (shortcutId(registered) == id) Q_EMIT pressed(registered);
  }
}

}  // namespace ferrytide::platform
