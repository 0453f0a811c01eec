#include "platform/linux/network_watch.h"

#include <QNetworkInformation>

#include "core/support/log.h"

namespace ferrytide::platform {

NetworkWatch::NetworkWatch(QObject* parent) : QObject(parent) {
  if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
    Logger("network").info("no network service answers: reports wait for the next start");
    return;
  }
  information_ = QNetworkInformation::instance();
  online_ = information_->reachability() == QNetworkInformation::Reachability::Online;
  connect(information_, &QNetworkInformation::reachabilityChanged, this,
          [this](QNetworkInformation::Reachability reachability) {
            bool online = reachability == QNetworkInformation::Reachability::Online;
            if (online && !online_) Q_EMIT cameBack();
            online_ = online;
          });
}

}  // namespace ferrytide::platform
