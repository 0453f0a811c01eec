// NoiseHandshake::readMessage as the responder, on message 1 and on message 3.
// Input: a selector byte, then the message bytes. Selector % 3:
//   0: the bytes are message 1 to a fresh responder;
//   1: after a real message 1 and 2, the bytes are message 3;
//   2: as 1, but message 3 is the real one XORed with the bytes (and cut or extended to their
//      length), so zero bytes give the genuine message and the success path is reached too.
// Only ferrytide::Error may come out of a read. Keys and ephemerals are fixed so that runs repeat.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/channel/noise_handshake.h"
#include "support/noise_test_peer.h"

using namespace ferrytide;

namespace {

struct Keys {
  crypto::X25519PrivateKey initiatorStatic = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x11));
  crypto::X25519PrivateKey initiatorEphemeral = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x22));
  crypto::X25519PrivateKey responderStatic = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x33));
  crypto::X25519PrivateKey responderEphemeral = crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x44));
};
const Keys& keys() {
  static const Keys k;
  return k;
}

NoiseHandshake makeInitiator() {
  NoiseHandshake handshake(NoiseRole::initiator, keys().initiatorStatic);
  NoiseHandshakeTestPeer::presetEphemeral(handshake, keys().initiatorEphemeral);
  return handshake;
}
NoiseHandshake makeResponder() {
  NoiseHandshake handshake(NoiseRole::responder, keys().responderStatic);
  NoiseHandshakeTestPeer::presetEphemeral(handshake, keys().responderEphemeral);
  return handshake;
}

struct Genuine {
  Bytes message1;
  Bytes message2;
  Bytes message3;
};
// The three messages are the same on every run, so the real ones are made once.
const Genuine& genuine() {
  static const Genuine g = [] {
    NoiseHandshake initiator = makeInitiator();
    NoiseHandshake responder = makeResponder();
    Genuine messages;
    messages.message1 = initiator.writeMessage();
    responder.readMessage(messages.message1);
    messages.message2 = responder.writeMessage();
    initiator.readMessage(messages.message2);
    messages.message3 = initiator.writeMessage();
    return messages;
  }();
  return g;
}

// After a successful message 3 the responder's transport must match the initiator's.
void checkAgreesWithInitiator(NoiseHandshake& responder) {
  NoiseHandshake initiator = makeInitiator();
  initiator.writeMessage();
  initiator.readMessage(genuine().message2);
  initiator.writeMessage();
  NoiseTransport initiatorTransport = initiator.finalize();
  NoiseTransport responderTransport = responder.finalize();
  if (initiatorTransport.handshakeHash() != responderTransport.handshakeHash()) std::abort();
  Bytes sealed = initiatorTransport.encrypt(asBytes("ping"), {});
  if (responderTransport.decrypt(sealed, {}) != toBytes("ping")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  int selector = data[0] % 3;
  Bytes message(data + 1, data + size);
  NoiseHandshake responder = makeResponder();

  if (selector == 0) {
    try {
      responder.readMessage(message);
    } catch (const NoiseError& error) {
      if (message.size() >= 32 || error.kind() != NoiseError::Kind::messageTooShort) std::abort();
      return 0;
    }
    if (message.size() < 32) std::abort();
    try {
      responder.writeMessage();  // a DH with the peer's e may be refused (a low-order point)
    } catch (const crypto::CryptoError&) {
    }
    return 0;
  }

  responder.readMessage(genuine().message1);
  responder.writeMessage();
  if (selector == 2) {
    const Bytes& real = genuine().message3;
    for (std::size_t i = 0; i < message.size() && i < real.size(); ++i) message[i] ^= real[i];
  }
  try {
    responder.readMessage(message);
  } catch (const Error&) {
    return 0;
  }
  // Nothing but the genuine message may authenticate; then the transports must match.
  if (message != genuine().message3) std::abort();
  checkAgreesWithInitiator(responder);
  return 0;
}
