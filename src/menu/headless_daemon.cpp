#include "menu/headless_daemon.h"

#include "menu/app_services.h"
#include "platform/linux/single_instance.h"

namespace ferrytide::menu {

struct HeadlessDaemon::Parts : AppServices {
  using AppServices::AppServices;
};

HeadlessDaemon::HeadlessDaemon(Options options, QObject* parent)
    : QObject(parent), options_(options) {}

HeadlessDaemon::~HeadlessDaemon() = default;

bool HeadlessDaemon::start() {
  auto* instance = new platform::SingleInstance(
      QDBusConnection::sessionBus(), QString::fromLatin1(platform::SingleInstance::busName), this);
  if (!instance->claimFirst()) {
    if (std::optional<quint32> holder = instance->holderPid()) {
      say(QStringLiteral("ferrytide: already running as process %1").arg(*holder));
    } else {
      say(QStringLiteral("ferrytide: cannot claim the session bus name: ") + instance->error());
    }
    return false;
  }
  parts_ = std::make_unique<Parts>(AppServicesOptions{.port = options_.port,
                                                      .clipboard = options_.clipboard,
                                                      .listenAddress = options_.listenAddress});
  if (!options_.clipboard) {
    say(QStringLiteral("No display: received text is kept in the clip history, not copied"));
  }
  if (const std::optional<QString>& damaged = parts_->prefs.damagedNotice()) say(*damaged);
  parts_->sayReceiveStatus();
  parts_->connectReceiverToState();
  parts_->receiver.start();
  parts_->flushPeerSync();
  parts_->connectFileManagerActions();
  parts_->outbox.start();
  return true;
}

void HeadlessDaemon::finish() {
  if (!parts_) return Q_EMIT finished();
  if (parts_->receiver.runsInFlight() > 0) say(QStringLiteral("Finishing the transfers in flight"));
  parts_->finish([this] { Q_EMIT finished(); });
}

}  // namespace ferrytide::menu
