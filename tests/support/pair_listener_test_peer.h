#pragma once

#include <cstdint>
#include <future>
#include <memory>

#include "core/peers/pair_listener.h"

namespace ferrytide {

// Test-only view of a listener's progress: when it listens (and on which port, for port 0) and
// when it has taken its one connection. Production code has no way to watch these steps.
class PairListenerTestPeer {
 public:
  struct Watch {
    std::future<std::uint16_t> listening;
    std::future<void> accepted;
  };

  // Call before awaitIntroduction().
  static Watch watch(PairListener& listener) {
    auto listening = std::make_shared<std::promise<std::uint16_t>>();
    auto accepted = std::make_shared<std::promise<void>>();
    Watch watch{listening->get_future(), accepted->get_future()};
    listener.observe([listening, accepted](PairListener::Step step, std::uint16_t port) {
      if (step == PairListener::Step::listening) {
        listening->set_value(port);
      } else {
        accepted->set_value();
      }
    });
    return watch;
  }
};

}  // namespace ferrytide
