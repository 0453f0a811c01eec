// The pairing QR code's JSON as it is read back: arbitrary bytes. Only PairingError
// (decodingFailed) may come out. A payload that decodes encodes again (its text is valid UTF-8),
// and that encoding decodes to the same payload.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/peers/pairing_payload.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PairingPayload payload;
  try {
    payload = PairingPayload::decode(ByteView(data, size));
  } catch (const PairingError& error) {
    if (error.kind() != PairingError::Kind::decodingFailed) std::abort();
    return 0;
  }
  if (!(PairingPayload::decode(payload.jsonData()) == payload)) std::abort();
  return 0;
}
