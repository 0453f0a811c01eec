// The plaintext of an opened frame: type byte, then a binary body or a JSON control message.
// Only TransportFramer::Error may come out. A message that decodes must encode again, and its
// encoding must decode to the same message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "core/channel/transport_framer.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteView plaintext(data, size);
  std::optional<DecodedFrame> frame;
  try {
    frame = TransportFramer::decodePlaintext(plaintext);
  } catch (const TransportFramer::Error&) {
    return 0;
  }
  if (const Bytes* body = frame->asBinary()) {
    if (plaintext[0] != TransportFramer::typeByteBinary ||
        !std::equal(body->begin(), body->end(), plaintext.begin() + 1, plaintext.end())) {
      std::abort();
    }
    return 0;
  }
  const TransportMessage& message = *frame->asJSON();
  if (plaintext[0] != TransportFramer::typeByteJSON) std::abort();
  // Both throw only on a fault: decoded text is valid UTF-8, and the encoding is ours.
  std::string text = encodeMessage(message);
  if (!(decodeMessage(asBytes(text)) == message)) std::abort();
  return 0;
}
