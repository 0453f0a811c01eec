// NoiseHandshake::readMessage as the initiator, on message 2.
// Input: a selector byte, then the message bytes. Selector % 2:
//   0: the bytes are message 2;
//   1: message 2 is the real one XORed with the bytes (and cut or extended to their length),
//      so zero bytes give the genuine message and the success path is reached too.
// Only ferrytide::Error may come out of the read. Keys and ephemerals are fixed: runs repeat.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "handshake_fixture.h"

using namespace ferrytide;
using namespace ferrytide::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  int selector = data[0] % 2;
  Bytes message(data + 1, data + size);
  const Bytes& real = genuineMessages().message2;
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
  NoiseHandshake responder = makeResponder();
  responder.readMessage(genuineMessages().message1);
  responder.writeMessage();
  responder.readMessage(initiator.writeMessage());
  if (!transportsAgree(responder, initiator)) std::abort();
  return 0;
}
