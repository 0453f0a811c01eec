#pragma once

#include <string_view>
#include <utility>

#include "core/channel/cipher_state.h"
#include "core/support/crypto.h"

namespace ferrytide {

// HKDF-SHA-256 with salt ck, input key material ikm and empty info, cut into `numOutputs`
// consecutive 32-byte keys (two or three).
std::vector<crypto::SecretKey> noiseHKDF(ByteView ck, ByteView ikm, int numOutputs);

// The handshake hash h, the chaining key ck and the handshake's cipher state.
class SymmetricState {
 public:
  explicit SymmetricState(std::string_view protocolName);

  void mixHash(ByteView data);
  void mixKey(ByteView inputKeyMaterial);
  // Encrypts with h as associated data and mixes the ciphertext into h.
  Bytes encryptAndHash(ByteView plaintext);
  Bytes decryptAndHash(ByteView ciphertext);
  // The two transport cipher states: the first for initiator → responder.
  std::pair<CipherState, CipherState> split() const;

  const crypto::Digest& h() const { return h_; }
  const CipherState& cipher() const { return cipher_; }

 private:
  crypto::Digest h_{};
  crypto::SecretKey ck_;
  CipherState cipher_;
};

}  // namespace ferrytide
