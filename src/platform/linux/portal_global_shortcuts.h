#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/linux/hotkey_backend.h"

namespace ferrytide::platform {

// System-wide hot keys through the desktop portal (org.freedesktop.portal.GlobalShortcuts), for
// Wayland desktops, where no client may grab keys. The portal asks the user and has the last
// word on the trigger: a combination counts as added once it is known, and a binding that
// the portal refuses later is logged.
class PortalGlobalShortcuts final : public HotkeyBackend {
  Q_OBJECT

 public:
  // Nothing when the desktop's portal offers no global shortcuts.
  static std::unique_ptr<PortalGlobalShortcuts> open(QDBusConnection bus);

  bool add(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers) override;
  void remove(std::uint32_t id) override;

 private Q_SLOTS:
  void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
  void onActivated(const QDBusObjectPath& session, const QString& shortcutId, qulonglong timestamp,
                   const QVariantMap& options);

 private:
  explicit PortalGlobalShortcuts(QDBusConnection bus);

  static bool offered(const QDBusConnection& bus);
  // Starts a request and returns its handle token; its outcome arrives in onResponse.
  QString startRequest(const QString& method, const QList<QVariant>& arguments,
                       QVariantMap options);
  QString requestPath(const QString& token) const;
  void createSession();
  void onSessionCreated(const QVariantMap& results);
  void bindAll();

  QDBusConnection bus_;
  QString sessionToken_;
  QString session_;  // the session's handle, once the portal has made it
  int requests_ = 0;
  std::map<std::uint32_t, QString> triggers_;
};

}  // namespace ferrytide::platform
