// Builds without the Avahi client library have no DNS-SD publisher: starting the advert
// reports the failure like any other, and pairing works through the QR code alone.

#include "core/peers/pair_advertiser.h"

namespace ferrytide {

struct PairAdvertiser::Publisher {};

bool PairAdvertiser::isSupported() { return false; }

PairAdvertiser::PairAdvertiser(const PairAdvert& advert) : advert_(advert) {}

PairAdvertiser::~PairAdvertiser() { stop(); }

void PairAdvertiser::start() {
  if (started_ || stopped_) return;
  started_ = true;
  reportFailure("this build has no DNS-SD publisher (built without avahi-client)");
}

void PairAdvertiser::stop() {
  if (stopped_) return;
  stopped_ = true;
  settle(State::stopped, "", "");
}

}  // namespace ferrytide
