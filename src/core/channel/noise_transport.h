#pragma once

#include "core/channel/cipher_state.h"
#include "core/support/crypto.h"

namespace ferrytide {

// The two cipher states of a finished handshake, one per direction. Only
// NoiseHandshake::finalize makes one.
class NoiseTransport {
 public:
  NoiseTransport(crypto::Digest handshakeHash, crypto::X25519PublicKey remoteStaticPublicKey,
                 CipherState sendCipher, CipherState receiveCipher)
      : handshakeHash_(handshakeHash),
        remoteStaticPublicKey_(std::move(remoteStaticPublicKey)),
        sendCipher_(std::move(sendCipher)),
        receiveCipher_(std::move(receiveCipher)) {}

  const crypto::Digest& handshakeHash() const { return handshakeHash_; }
  const crypto::X25519PublicKey& remoteStaticPublicKey() const { return remoteStaticPublicKey_; }

  Bytes encrypt(ByteView plaintext, ByteView ad) { return sendCipher_.encryptWithAD(plaintext, ad); }
  Bytes decrypt(ByteView ciphertext, ByteView ad) {
    return receiveCipher_.decryptWithAD(ciphertext, ad);
  }

  CipherState& sendCipher() { return sendCipher_; }
  CipherState& receiveCipher() { return receiveCipher_; }

 private:
  crypto::Digest handshakeHash_;
  crypto::X25519PublicKey remoteStaticPublicKey_;
  CipherState sendCipher_;
  CipherState receiveCipher_;
};

}  // namespace ferrytide
