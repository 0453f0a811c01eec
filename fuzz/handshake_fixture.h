#pragma once

// What the two handshake targets share: fixed static and ephemeral keys, so that every run
// sees the same handshake, and the genuine three messages between them.

#include "core/channel/noise_handshake.h"
#include "support/noise_test_peer.h"

namespace ferrytide::fuzzing {

struct HandshakeKeys {
  crypto::X25519PrivateKey initiatorStatic = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x11));
  crypto::X25519PrivateKey initiatorEphemeral = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x22));
  crypto::X25519PrivateKey responderStatic = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x33));
  crypto::X25519PrivateKey responderEphemeral = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x44));
};

inline const HandshakeKeys& handshakeKeys() {
  static const HandshakeKeys keys;
  return keys;
}

inline NoiseHandshake makeInitiator() {
  NoiseHandshake handshake(NoiseRole::initiator, handshakeKeys().initiatorStatic);
  NoiseHandshakeTestPeer::presetEphemeral(handshake, handshakeKeys().initiatorEphemeral);
  return handshake;
}

inline NoiseHandshake makeResponder() {
  NoiseHandshake handshake(NoiseRole::responder, handshakeKeys().responderStatic);
  NoiseHandshakeTestPeer::presetEphemeral(handshake, handshakeKeys().responderEphemeral);
  return handshake;
}

struct GenuineMessages {
  Bytes message1;
  Bytes message2;
  Bytes message3;
};

// The same on every run, so made once.
inline const GenuineMessages& genuineMessages() {
  static const GenuineMessages messages = [] {
    NoiseHandshake initiator = makeInitiator();
    NoiseHandshake responder = makeResponder();
    GenuineMessages made;
    made.message1 = initiator.writeMessage();
    responder.readMessage(made.message1);
    made.message2 = responder.writeMessage();
    initiator.readMessage(made.message2);
    made.message3 = initiator.writeMessage();
    return made;
  }();
  return messages;
}

// Both transports of a completed handshake must agree: same hash, and a message sealed by
// one opens with the other.
inline bool transportsAgree(NoiseHandshake& sender, NoiseHandshake& receiver) {
  NoiseTransport sending = sender.finalize();
  NoiseTransport receiving = receiver.finalize();
  if (sending.handshakeHash() != receiving.handshakeHash()) return false;
  Bytes sealed = sending.encrypt(asBytes("ping"), {});
  return receiving.decrypt(sealed, {}) == toBytes("ping");
}

}  // namespace ferrytide::fuzzing
