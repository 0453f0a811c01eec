#include "core/channel/symmetric_state.h"

#include <algorithm>

namespace ferrytide {

std::vector<crypto::SecretKey> noiseHKDF(ByteView ck, ByteView ikm, int numOutputs) {
  Bytes output = crypto::hkdfSha256(ck, ikm, {}, static_cast<std::size_t>(numOutputs) * 32);
  std::vector<crypto::SecretKey> keys;
  for (int i = 0; i < numOutputs; ++i) {
    keys.emplace_back(ByteView(output).subspan(static_cast<std::size_t>(i) * 32, 32));
  }
  crypto::wipe(output);
  return keys;
}

SymmetricState::SymmetricState(std::string_view protocolName) {
  ByteView name = asBytes(protocolName);
  if (name.size() <= h_.size()) {
    std::copy(name.begin(), name.end(), h_.begin());
  } else {
    h_ = crypto::sha256(name);
  }
  ck_ = crypto::SecretKey(h_);
}

void SymmetricState::mixHash(ByteView data) { h_ = crypto::Sha256().update(h_).update(data).finish(); }

void SymmetricState::mixKey(ByteView inputKeyMaterial) {
  auto keys = noiseHKDF(ck_.view(), inputKeyMaterial, 2);
  ck_ = keys[0];
  cipher_.initializeKey(keys[1]);
}

Bytes SymmetricState::encryptAndHash(ByteView plaintext) {
  Bytes ciphertext = cipher_.encryptWithAD(plaintext, h_);
  mixHash(ciphertext);
  return ciphertext;
}

Bytes SymmetricState::decryptAndHash(ByteView ciphertext) {
  Bytes plaintext = cipher_.decryptWithAD(ciphertext, h_);
  mixHash(ciphertext);
  return plaintext;
}

std::pair<CipherState, CipherState> SymmetricState::split() const {
  auto keys = noiseHKDF(ck_.view(), {}, 2);
  std::pair<CipherState, CipherState> states;
  states.first.initializeKey(keys[0]);
  states.second.initializeKey(keys[1]);
  return states;
}

}  // namespace ferrytide
