#pragma once

#include <QObject>

class QNetworkInformation;

namespace ferrytide::platform {

// Tells when the computer is online again after it was not, from the desktop's network
// service (NetworkManager or the GLib network monitor). Without such a service it never
// tells; whoever listens then relies on the next start.
class NetworkWatch : public QObject {
  Q_OBJECT

 public:
  explicit NetworkWatch(QObject* parent = nullptr);

  // Whether a network service answers at all.
  bool available() const { return information_ != nullptr; }

 Q_SIGNALS:
  void cameBack();

 private:
  QNetworkInformation* information_ = nullptr;
  bool online_ = true;
};

}  // namespace ferrytide::platform
