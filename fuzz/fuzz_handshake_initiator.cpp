// NoiseHandshake::readMessage as the initiator, on message 2.
// Input: a selector byte, then the message bytes. Selector % 2:
//   0: the bytes are message 2;
//   1: message 2 is the real one XORed with the bytes (and cut or extended to their length),
//      so zero bytes give the genuine message and the success path is reached too.
// Only ferrytide::Error may come out of the read. Keys and ephemerals are fixed: runs repeat.

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

// A responder that has read the initiator's message 1, and its message 2.
struct Responder {
  NoiseHandshake handshake{NoiseRole::responder, keys().responderStatic};
  Bytes message2;
  Responder() {
    NoiseHandshakeTestPeer::presetEphemeral(handshake, keys().responderEphemeral);
    handshake.readMessage(makeInitiator().writeMessage());
    message2 = handshake.writeMessage();
  }
};

const Bytes& genuineMessage2() {
  static const Bytes message = Responder().message2;
  return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  int selector = data[0] % 2;
  Bytes message(data + 1, data + size);
  const Bytes& real = genuineMessage2();
  if (selector == 1) {
    for (std::size_t i = 0; i < message.size() && i < real.size(); ++i) message[i] ^= real[i];
  }
  NoiseHandshake initiator = makeInitiator();
  try {
    initiator.writeMessage();
    initiator.readMessage(message);
  } catch (const NoiseError& error) {
    // Too short for e, then s, then the payload's tag: each says how many bytes it needed.
    if (error.kind() == NoiseError::Kind::messageTooShort) {
      std::size_t needed = message.size() < 32 ? 32 : message.size() < 80 ? 48 : 16;
      std::size_t remaining = message.size() < 32   ? message.size()
                              : message.size() < 80 ? message.size() - 32
                                                    : message.size() - 80;
      if (message.size() >= 96 || error.expected() != needed || error.actual() != remaining) {
        std::abort();
      }
    }
    return 0;
  } catch (const Error&) {
    return 0;
  }
  // Nothing but the genuine message may authenticate; then the handshake must complete.
  if (message != real) std::abort();
  Responder responder;
  responder.handshake.readMessage(initiator.writeMessage());
  NoiseTransport initiatorTransport = initiator.finalize();
  NoiseTransport responderTransport = responder.handshake.finalize();
  if (initiatorTransport.handshakeHash() != responderTransport.handshakeHash()) std::abort();
  Bytes sealed = responderTransport.encrypt(asBytes("pong"), {});
  if (initiatorTransport.decrypt(sealed, {}) != toBytes("pong")) std::abort();
  return 0;
}
