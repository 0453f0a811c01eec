#include "support/rsa_test_key.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace ferrytide::testing {

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

template <typename Encode>
Bytes encoded(Encode encode) {
  unsigned char* out = nullptr;
  int length = encode(&out);
  if (length <= 0) throw std::runtime_error("RSA test key encoding failed");
  Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}
}  // namespace

RsaTestKey RsaTestKey::generate(int bits) {
  Key key(EVP_RSA_gen(static_cast<unsigned>(bits)), &EVP_PKEY_free);
  if (!key) throw std::runtime_error("RSA test key generation failed");
  RsaTestKey result;
  result.pkcs1Der = encoded([&](unsigned char** out) { return i2d_PrivateKey(key.get(), out); });
  std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
      EVP_PKEY2PKCS8(key.get()), &PKCS8_PRIV_KEY_INFO_free);
  result.pkcs8Der =
      encoded([&](unsigned char** out) { return i2d_PKCS8_PRIV_KEY_INFO(info.get(), out); });

  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (PEM_write_bio_PKCS8PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
      1) {
    throw std::runtime_error("RSA test key PEM failed");
  }
  char* text = nullptr;
  long length = BIO_get_mem_data(bio.get(), &text);
  result.pkcs8Pem.assign(text, static_cast<std::size_t>(length));
  return result;
}

const RsaTestKey& RsaTestKey::shared() {
  static const RsaTestKey key = generate(2048);
  return key;
}

bool RsaTestKey::verify(ByteView message, ByteView signature) const {
  const unsigned char* cursor = pkcs1Der.data();
  Key key(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &cursor, static_cast<long>(pkcs1Der.size())),
          &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!key || !ctx) return false;
  return EVP_DigestVerifyInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, key.get(),
                                 nullptr) == 1 &&
         EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                          message.size()) == 1;
}

}  // namespace ferrytide::testing
