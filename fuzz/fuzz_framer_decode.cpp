// TransportFramer::decode on a framer whose receive key is fixed, fed a sequence of frames.
// Input: records of [mode][length][length bytes]; a length of 255 takes the rest of the input.
// Mode % 4: 0 and 3 seal the bytes as a plaintext with the peer's key (an authentic frame),
// 1 passes the bytes as a frame body unchanged, 2 seals them and flips one bit of the result.
// Bit 2 of the mode byte opens the frame in its own buffer (decode(Bytes&&)) instead of a view.
//
// Only TransportFramer::Error may come out, an authentic frame opens as long as no frame
// before it failed to open, and after one failed every later frame fails with a decrypt error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/channel/transport_framer.h"
#include "core/support/crypto.h"

using namespace ferrytide;

namespace {

crypto::SecretKey fixedKey(std::uint8_t fill) { return crypto::SecretKey(Bytes(32, fill)); }

CipherState keyedCipher(std::uint8_t fill) {
  CipherState cipher;
  cipher.initializeKey(fixedKey(fill));
  return cipher;
}

TransportFramer makeFramer() {
  static const crypto::X25519PublicKey peer =
      crypto::X25519PrivateKey::fromRaw(Bytes(32, 0x42)).publicKey();
  return TransportFramer(
      NoiseTransport(crypto::Digest{}, peer, keyedCipher(0xA1), keyedCipher(0xB2)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TransportFramer framer = makeFramer();
  CipherState peerSend = keyedCipher(0xB2);
  bool failedToOpen = false;
  ByteView input(data, size);
  while (input.size() >= 2) {
    std::uint8_t mode = input[0] % 4;
    bool inPlace = (input[0] & 4) != 0;
    std::size_t length = input[1] == 255 ? input.size() - 2 : input[1];
    length = std::min(length, input.size() - 2);
    ByteView bytes = input.subspan(2, length);
    input = input.subspan(2 + length);

    Bytes frame;
    bool authentic = mode == 0 || mode == 3;
    if (mode == 1) {
      frame.assign(bytes.begin(), bytes.end());
    } else {
      frame = peerSend.encryptWithAD(bytes, {});
      if (mode == 2) {
        std::size_t bit = bytes.empty() ? 0 : bytes[0] % (frame.size() * 8);
        frame[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
      }
    }
    try {
      DecodedFrame decoded = inPlace ? framer.decode(std::move(frame)) : framer.decode(frame);
      if (failedToOpen || !authentic) std::abort();
      if (const Bytes* body = decoded.asBinary()) {
        if (bytes.empty() ||
            !std::equal(body->begin(), body->end(), bytes.begin() + 1, bytes.end())) {
          std::abort();
        }
      }
    } catch (const TransportFramer::Error& error) {
      bool decryptError = error.kind() == TransportFramer::Error::Kind::decrypt;
      if (authentic && !failedToOpen && decryptError) std::abort();
      if (failedToOpen && !decryptError) std::abort();
      if (decryptError) failedToOpen = true;
    }
  }
  return 0;
}
