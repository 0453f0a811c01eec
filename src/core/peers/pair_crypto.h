#pragma once

#include <string>
#include <string_view>

#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/support/error.h"

namespace ferrytide {

// Key derivations, sealing and the confirmation code of the pairing exchange. HKDF is
// HKDF-SHA-256; byte strings are joined without separators or length fields.
//
// Sealed introduction: nonce (12 random bytes) ‖ ciphertext ‖ Poly1305 tag (16), no associated
// data, under the key derived from the 32-byte pairing secret.
class PairCrypto {
 public:
  static constexpr std::string_view aeadInfo = "ferrytide.pair.aead.v1";
  static constexpr std::string_view confirmInfo = "ferrytide.pair.confirm.v1";
  // Nonce + tag: the smallest sealed introduction (an empty plaintext).
  static constexpr std::size_t minSealedBytes = crypto::kNonceBytes + crypto::kTagBytes;

  class Error : public ferrytide::Error {
   public:
    enum class Kind { open, ciphertextTooShort };

    static Error open(const std::string& reason);
    static Error ciphertextTooShort();

    Kind kind() const { return kind_; }

   private:
    Error(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  // HKDF(secret, salt: empty, info: aeadInfo), 32 bytes.
  static crypto::SecretKey deriveAEADKey(ByteView pairingSecret);

  // The phone's side, offered for symmetry and tests: a fresh random nonce each call.
  static Bytes sealIntroduction(ByteView plaintext, const crypto::SecretKey& key);

  // Throws Error::ciphertextTooShort below 28 bytes, Error::open when authentication fails.
  static Bytes openIntroduction(ByteView wireBlob, const crypto::SecretKey& key);

  // HKDF(secret, salt: mac ‖ phone ‖ plaintext, info: confirmInfo), 4 bytes read as a big-endian
  // unsigned number, modulo 10000, as four digits with leading zeros. The plaintext is the exact
  // decrypted bytes, never a re-encoding, so both screens agree.
  static std::string confirmationCode(ByteView pairingSecret, ByteView macPubkey,
                                      ByteView phonePubkey, ByteView phoneIntroPlaintext);
};

}  // namespace ferrytide
