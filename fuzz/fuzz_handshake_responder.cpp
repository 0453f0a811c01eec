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

#include "handshake_fixture.h"

using namespace ferrytide;
using namespace ferrytide::fuzzing;

namespace {

// After a successful message 3 the responder's transport must match the initiator's.
void checkAgreesWithInitiator(NoiseHandshake& responder) {
  NoiseHandshake initiator = makeInitiator();
  initiator.writeMessage();
  initiator.readMessage(genuineMessages().message2);
  initiator.writeMessage();
  if (!transportsAgree(initiator, responder)) std::abort();
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

  responder.readMessage(genuineMessages().message1);
  responder.writeMessage();
  if (selector == 2) {
    const Bytes& real = genuineMessages().message3;
    for (std::size_t i = 0; i < message.size() && i < real.size(); ++i) message[i] ^= real[i];
  }
  try {
    responder.readMessage(message);
  } catch (const Error&) {
    return 0;
  }
  // Nothing but the genuine message may authenticate; then the transports must match.
  if (message != genuineMessages().message3) std::abort();
  checkAgreesWithInitiator(responder);
  return 0;
}
