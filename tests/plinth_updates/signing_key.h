#pragma once

// An Ed25519 key pair of the test's own, standing in for the key that signs released update
// archives: the public half goes where a build keeps its update key, the private half signs.

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "core/support/base64.h"
#include "core/support/bytes.h"

namespace plinth::testing {

class SigningKey {
 public:
  SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {
    if (!key_) throw std::runtime_error("cannot generate an Ed25519 key");
  }

  // Base64 of the 32-byte public key.
  std::string publicKeyBase64() const {
    ferrytide::Bytes raw(32);
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &length) != 1 || length != 32) {
      throw std::runtime_error("cannot read the Ed25519 public key");
    }
    return ferrytide::base64::encode(raw);
  }

  // Base64 of the 64-byte signature over all of `message`.
  std::string signBase64(ferrytide::ByteView message) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    ferrytide::Bytes signature(64);
    std::size_t length = signature.size();
    bool signedOk =
        ctx &&
        EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key_.get(), nullptr) ==
            1 &&
        EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) == 1;
    if (!signedOk || length != 64) throw std::runtime_error("cannot sign with the Ed25519 key");
    return ferrytide::base64::encode(signature);
  }

 private:
  std::shared_ptr<EVP_PKEY> key_;
};

}  // namespace plinth::testing
