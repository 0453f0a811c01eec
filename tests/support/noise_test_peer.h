#pragma once

#include "core/channel/noise_handshake.h"

namespace ferrytide {

// Test-only access to a handshake: fixes the ephemeral key its next `e` token uses, which the
// published vectors need. Production code has no way to do this.
class NoiseHandshakeTestPeer {
 public:
  static void presetEphemeral(NoiseHandshake& handshake, crypto::X25519PrivateKey key) {
    handshake.presetEphemeral_ = std::move(key);
  }
};

}  // namespace ferrytide
