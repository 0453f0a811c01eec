// The bytes a phone sends on the pairing connection, as the listener reads them: the 4-byte
// length, then that many bytes of sealed introduction, opened under a fixed pairing secret.
// Only PairWire::Error may come out of the length and only PairCrypto::Error out of opening.
// A length that parses is at most 65536 and frames the blob again to the same prefix; a blob
// made of guessed bytes never opens.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const crypto::SecretKey key = PairCrypto::deriveAEADKey(Bytes(32, 0x5A));
  ByteView input(data, size);
  std::uint32_t length = 0;
  try {
    length = PairWire::parseLengthPrefix(input);
  } catch (const PairWire::Error& error) {
    bool tooShort = error.kind() == PairWire::Error::Kind::frameTooShort;
    if (tooShort != (size < PairWire::lengthPrefixBytes)) std::abort();
    return 0;
  }
  if (length > PairWire::maxFrameBytes) std::abort();
  ByteView rest = input.subspan(PairWire::lengthPrefixBytes);
  if (rest.size() < length) return 0;  // the listener would still be reading
  ByteView blob = rest.first(length);
  Bytes framed = PairWire::encodeFrame(blob);
  if (!std::equal(framed.begin(), framed.begin() + PairWire::lengthPrefixBytes, input.begin()) ||
      !std::equal(blob.begin(), blob.end(), framed.begin() + PairWire::lengthPrefixBytes)) {
    std::abort();
  }
  try {
    PairCrypto::openIntroduction(blob, key);
  } catch (const PairCrypto::Error& error) {
    bool tooShort = error.kind() == PairCrypto::Error::Kind::ciphertextTooShort;
    if (tooShort != (blob.size() < PairCrypto::minSealedBytes)) std::abort();
    return 0;
  }
  std::abort();  // a forgery opened
}
