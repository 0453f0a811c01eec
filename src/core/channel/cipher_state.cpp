#include "core/channel/cipher_state.h"

#include "core/channel/noise_error.h"

namespace ferrytide {

void CipherState::initializeKey(const crypto::SecretKey& key) {
  cipher_.emplace(key);
  nonce_ = 0;
}

crypto::Nonce CipherState::encodeNonce(std::uint64_t counter) {
  crypto::Nonce nonce{};
  for (std::size_t i = 0; i < 8; ++i) {
    nonce[4 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
  }
  return nonce;
}

Bytes CipherState::encryptWithAD(ByteView plaintext, ByteView ad) {
  return encryptWithAD({plaintext}, ad);
}

Bytes CipherState::encryptWithAD(std::initializer_list<ByteView> plaintextParts, ByteView ad) {
  std::size_t total = 0;
  for (ByteView part : plaintextParts) total += part.size();
  if (!cipher_) {
    Bytes out;
    out.reserve(total);
    for (ByteView part : plaintextParts) out.insert(out.end(), part.begin(), part.end());
    return out;
  }
  Bytes out(total + crypto::kTagBytes);
  cipher_->seal(encodeNonce(nonce_), ad, plaintextParts, out);
  ++nonce_;
  return out;
}

Bytes CipherState::decryptWithAD(ByteView ciphertext, ByteView ad) {
  if (!cipher_) return Bytes(ciphertext.begin(), ciphertext.end());
  if (ciphertext.size() < crypto::kTagBytes) {
    throw NoiseError::messageTooShort(crypto::kTagBytes, ciphertext.size());
  }
  Bytes out(ciphertext.size() - crypto::kTagBytes);
  decryptWithAD(ciphertext, ad, {crypto::MutableByteView(out)});
  return out;
}

void CipherState::decryptWithAD(ByteView ciphertext, ByteView ad,
                                std::initializer_list<crypto::MutableByteView> outParts) {
  if (!cipher_) {
    std::size_t total = 0;
    for (crypto::MutableByteView part : outParts) total += part.size();
    if (total != ciphertext.size()) throw crypto::CryptoError("open output has wrong size");
    const std::uint8_t* input = ciphertext.data();
    for (crypto::MutableByteView part : outParts) {
      std::copy(input, input + part.size(), part.data());
      input += part.size();
    }
    return;
  }
  if (ciphertext.size() < crypto::kTagBytes) {
    throw NoiseError::messageTooShort(crypto::kTagBytes, ciphertext.size());
  }
  try {
    cipher_->open(encodeNonce(nonce_), ad, ciphertext, outParts);
  } catch (const crypto::CryptoError& error) {
    throw NoiseError::decrypt(error.description());
  }
  ++nonce_;
}

}  // namespace ferrytide
