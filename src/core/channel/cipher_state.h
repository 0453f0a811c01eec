#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "core/support/bytes.h"
#include "core/support/crypto.h"

namespace ferrytide {

// One direction's ChaCha20-Poly1305 key and its nonce counter. Without a key, encryption and
// decryption pass the bytes through unchanged (the first handshake message).
class CipherState {
 public:
  CipherState() = default;

  bool hasKey() const { return cipher_.has_value(); }
  std::uint64_t nonce() const { return nonce_; }
  // Sets the key and restarts the nonce at 0.
  void initializeKey(const crypto::SecretKey& key);

  // Ciphertext ‖ tag; the nonce advances only on success.
  Bytes encryptWithAD(ByteView plaintext, ByteView ad);
  // The same for a plaintext given in parts (a frame's type byte and its body).
  Bytes encryptWithAD(std::initializer_list<ByteView> plaintextParts, ByteView ad);

  // Throws NoiseError::messageTooShort below 16 bytes and NoiseError::decrypt when the tag
  // does not match; the nonce then stays where it was.
  Bytes decryptWithAD(ByteView ciphertext, ByteView ad);
  // Opens into `outParts`, whose sizes must add up to the plaintext's (ciphertext − 16).
  void decryptWithAD(ByteView ciphertext, ByteView ad,
                     std::initializer_list<crypto::MutableByteView> outParts);

  // 12 bytes: four zero bytes, then the counter in little-endian order.
  static crypto::Nonce encodeNonce(std::uint64_t counter);

 private:
  std::optional<crypto::ChaCha20Poly1305> cipher_;
  std::uint64_t nonce_ = 0;
};

}  // namespace ferrytide
