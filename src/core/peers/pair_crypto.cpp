#include "core/peers/pair_crypto.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace ferrytide {

PairCrypto::Error PairCrypto::Error::open(const std::string& reason) {
  return Error(Kind::open, "ChaChaPoly.open failed: " + reason);
}

PairCrypto::Error PairCrypto::Error::ciphertextTooShort() {
  return Error(Kind::ciphertextTooShort, "wire ciphertext < 16-byte tag");
}

crypto::SecretKey PairCrypto::deriveAEADKey(ByteView pairingSecret) {
  Bytes okm = crypto::hkdfSha256({}, pairingSecret, asBytes(aeadInfo), crypto::kKeyBytes);
  crypto::SecretKey key(okm);
  crypto::wipe(okm);
  return key;
}

Bytes PairCrypto::sealIntroduction(ByteView plaintext, const crypto::SecretKey& key) {
  crypto::Nonce nonce{};
  crypto::fillRandom(nonce);
  Bytes blob(crypto::kNonceBytes + plaintext.size() + crypto::kTagBytes);
  std::copy(nonce.begin(), nonce.end(), blob.begin());
  crypto::ChaCha20Poly1305(key).seal(nonce, {}, {plaintext},
                                     crypto::MutableByteView(blob).subspan(crypto::kNonceBytes));
  return blob;
}

Bytes PairCrypto::openIntroduction(ByteView wireBlob, const crypto::SecretKey& key) {
  if (wireBlob.size() < minSealedBytes) throw Error::ciphertextTooShort();
  crypto::Nonce nonce{};
  std::copy_n(wireBlob.begin(), crypto::kNonceBytes, nonce.begin());
  try {
    return crypto::ChaCha20Poly1305(key).open(nonce, {}, wireBlob.subspan(crypto::kNonceBytes));
  } catch (const crypto::CryptoError& error) {
    throw Error::open(error.what());
  }
}

std::string PairCrypto::confirmationCode(ByteView pairingSecret, ByteView macPubkey,
                                         ByteView phonePubkey, ByteView phoneIntroPlaintext) {
  Bytes salt = concat({macPubkey, phonePubkey, phoneIntroPlaintext});
  Bytes confirmation = crypto::hkdfSha256(salt, pairingSecret, asBytes(confirmInfo), 4);
  std::uint32_t value = 0;
  for (std::uint8_t byte : confirmation) value = (value << 8) | byte;
  char digits[5];
  std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(value % 10000));
  return digits;
}

}  // namespace ferrytide
