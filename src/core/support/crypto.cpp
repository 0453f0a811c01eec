#include "core/support/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <limits>
#include <mutex>
#include <string>

namespace ferrytide::crypto {

namespace {

// The library's description of its most recent error, or `fallback` when it left none.
std::string libraryError(const char* fallback) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

[[noreturn]] void fail(const char* fallback) { throw CryptoError(libraryError(fallback)); }

void check(int result, const char* what) {
  if (result != 1) fail(what);
}

int toInt(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw CryptoError("buffer too large for the crypto library");
  }
  return static_cast<int>(size);
}

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter>;

// Fetched once: looking algorithms up on every call costs more than small operations do.
const EVP_CIPHER* chachaCipher() {
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
  if (cipher == nullptr) fail("ChaCha20-Poly1305 unavailable");
  return cipher;
}
const EVP_MD* sha256Digest() {
  static EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (md == nullptr) fail("SHA-256 unavailable");
  return md;
}
EVP_KDF* hkdfKdf() {
  static EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  if (kdf == nullptr) fail("HKDF unavailable");
  return kdf;
}

}  // namespace

void wipe(MutableByteView bytes) { OPENSSL_cleanse(bytes.data(), bytes.size()); }

bool constantTimeEquals(ByteView a, ByteView b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// ---- SecretKey

SecretKey::SecretKey(ByteView bytes) {
  if (bytes.size() != kKeyBytes) {
    throw CryptoError("key must be 32 bytes, got " + std::to_string(bytes.size()));
  }
  std::copy(bytes.begin(), bytes.end(), bytes_.begin());
}

SecretKey::~SecretKey() { wipe(bytes_); }

// ---- X25519

struct X25519PublicKey::Handle {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
};
struct X25519PrivateKey::Handle {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
  // Setting up a key-agreement context costs more than the agreement itself (the library
  // looks the algorithm up by name each time), so each key keeps one, made on first use.
  mutable std::mutex deriveLock;
  mutable PkeyCtxPtr deriveContext;
};

X25519PublicKey::X25519PublicKey(std::array<std::uint8_t, kKeyBytes> raw,
                                 std::shared_ptr<const Handle> handle)
    : raw_(raw), handle_(std::move(handle)) {}

namespace {
// A context for one kind of operation on X25519 keys (`Init` sets it up), made once per thread:
// made for each key, it would cost the library's algorithm lookup every time.
template <int (*Init)(EVP_PKEY_CTX*)>
EVP_PKEY_CTX* x25519Context(const char* failure) {
  thread_local PkeyCtxPtr context;
  if (!context) {
    context.reset(EVP_PKEY_CTX_new_from_name(nullptr, "X25519", nullptr));
    if (!context || Init(context.get()) != 1) {
      context.reset();
      fail(failure);
    }
  }
  return context.get();
}
}  // namespace

X25519PublicKey X25519PublicKey::fromRaw(ByteView raw) {
  if (raw.size() != kKeyBytes) {
    throw CryptoError("X25519 public key must be 32 bytes, got " + std::to_string(raw.size()));
  }
  EVP_PKEY_CTX* context = x25519Context<EVP_PKEY_fromdata_init>("X25519 key import failed");
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                        const_cast<std::uint8_t*>(raw.data()), raw.size()),
      OSSL_PARAM_construct_end()};
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1 || key == nullptr) {
    fail("invalid X25519 public key");
  }
  std::array<std::uint8_t, kKeyBytes> copy{};
  std::copy(raw.begin(), raw.end(), copy.begin());
  auto handle = std::make_shared<Handle>();
  handle->key.reset(key);
  return X25519PublicKey(copy, std::move(handle));
}

X25519PrivateKey::X25519PrivateKey(std::shared_ptr<const Handle> handle, X25519PublicKey publicKey)
    : handle_(std::move(handle)), publicKey_(std::move(publicKey)) {}

namespace {
// The public half, as raw bytes, of a key the library holds.
std::array<std::uint8_t, kKeyBytes> rawPublicOf(EVP_PKEY* key) {
  std::array<std::uint8_t, kKeyBytes> raw{};
  std::size_t length = raw.size();
  check(EVP_PKEY_get_raw_public_key(key, raw.data(), &length), "cannot read X25519 public key");
  return raw;
}
}  // namespace

// The public half shares the private key's library key, which serves as a peer key as it is:
// making a second one from the raw bytes would cost the library's algorithm lookup once more.
X25519PublicKey X25519PrivateKey::publicHalf(const Handle& handle) {
  auto publicHandle = std::make_shared<X25519PublicKey::Handle>();
  check(EVP_PKEY_up_ref(handle.key.get()), "cannot share X25519 key");
  publicHandle->key.reset(handle.key.get());
  return X25519PublicKey(rawPublicOf(handle.key.get()), std::move(publicHandle));
}

X25519PrivateKey X25519PrivateKey::generate() {
  EVP_PKEY_CTX* context = x25519Context<EVP_PKEY_keygen_init>("X25519 key generation failed");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(context, &key) != 1 || key == nullptr) {
    fail("X25519 key generation failed");
  }
  auto handle = std::make_shared<Handle>();
  handle->key.reset(key);
  X25519PublicKey publicKey = publicHalf(*handle);
  return X25519PrivateKey(std::move(handle), std::move(publicKey));
}

X25519PrivateKey X25519PrivateKey::fromRaw(ByteView raw) {
  if (raw.size() != kKeyBytes) {
    throw CryptoError("X25519 private key must be 32 bytes, got " + std::to_string(raw.size()));
  }
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, raw.data(), raw.size());
  if (key == nullptr) fail("invalid X25519 private key");
  auto handle = std::make_shared<Handle>();
  handle->key.reset(key);
  X25519PublicKey publicKey = publicHalf(*handle);
  return X25519PrivateKey(std::move(handle), std::move(publicKey));
}

SecretKey X25519PrivateKey::rawRepresentation() const {
  SecretKey raw;
  std::size_t length = SecretKey::size();
  check(EVP_PKEY_get_raw_private_key(handle_->key.get(), raw.data(), &length),
        "cannot read X25519 private key");
  return raw;
}

SecretKey X25519PrivateKey::sharedSecret(const X25519PublicKey& peer) const {
  std::lock_guard guard(handle_->deriveLock);
  PkeyCtxPtr& ctx = handle_->deriveContext;
  if (!ctx) {
    ctx.reset(EVP_PKEY_CTX_new_from_pkey(nullptr, handle_->key.get(), nullptr));
    if (!ctx) fail("X25519 context allocation failed");
    if (EVP_PKEY_derive_init(ctx.get()) != 1) {
      ctx.reset();
      fail("X25519 derive init failed");
    }
  }
  SecretKey secret;
  std::size_t length = SecretKey::size();
  if (EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.handle_->key.get(), 0) != 1 ||
      EVP_PKEY_derive(ctx.get(), secret.data(), &length) != 1) {
    std::string reason = libraryError("X25519 key agreement failed");
    ctx.reset();  // a failed agreement may leave the context half set up
    throw CryptoError(reason);
  }
  if (length != SecretKey::size()) throw CryptoError("X25519 shared secret has wrong length");
  return secret;
}

// ---- ChaCha20-Poly1305

struct ChaCha20Poly1305::Context {
  EVP_CIPHER_CTX* encrypt = nullptr;
  EVP_CIPHER_CTX* decrypt = nullptr;
  ~Context() {
    EVP_CIPHER_CTX_free(encrypt);
    EVP_CIPHER_CTX_free(decrypt);
  }
};

ChaCha20Poly1305::ChaCha20Poly1305(const SecretKey& key) : context_(std::make_unique<Context>()) {
  context_->encrypt = EVP_CIPHER_CTX_new();
  context_->decrypt = EVP_CIPHER_CTX_new();
  if (context_->encrypt == nullptr || context_->decrypt == nullptr) {
    fail("cipher context allocation failed");
  }
  check(EVP_EncryptInit_ex2(context_->encrypt, chachaCipher(), key.data(), nullptr, nullptr),
        "cipher key setup failed");
  check(EVP_DecryptInit_ex2(context_->decrypt, chachaCipher(), key.data(), nullptr, nullptr),
        "cipher key setup failed");
}

ChaCha20Poly1305::ChaCha20Poly1305(ChaCha20Poly1305&&) noexcept = default;
ChaCha20Poly1305& ChaCha20Poly1305::operator=(ChaCha20Poly1305&&) noexcept = default;
ChaCha20Poly1305::~ChaCha20Poly1305() = default;

void ChaCha20Poly1305::seal(const Nonce& nonce, ByteView ad,
                            std::initializer_list<ByteView> plaintextParts, MutableByteView out) {
  std::size_t total = 0;
  for (ByteView part : plaintextParts) total += part.size();
  if (out.size() != total + kTagBytes) throw CryptoError("seal output has wrong size");

  EVP_CIPHER_CTX* ctx = context_->encrypt;
  check(EVP_EncryptInit_ex2(ctx, nullptr, nullptr, nonce.data(), nullptr), "cipher nonce failed");
  int written = 0;
  if (!ad.empty()) {
    check(EVP_EncryptUpdate(ctx, nullptr, &written, ad.data(), toInt(ad.size())), "seal failed");
  }
  std::uint8_t* cursor = out.data();
  for (ByteView part : plaintextParts) {
    if (part.empty()) continue;
    check(EVP_EncryptUpdate(ctx, cursor, &written, part.data(), toInt(part.size())),
          "seal failed");
    cursor += written;
  }
  check(EVP_EncryptFinal_ex(ctx, cursor, &written), "seal failed");
  check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(kTagBytes),
                            out.data() + total),
        "seal tag failed");
}

Bytes ChaCha20Poly1305::seal(const Nonce& nonce, ByteView ad, ByteView plaintext) {
  Bytes out(plaintext.size() + kTagBytes);
  seal(nonce, ad, {plaintext}, out);
  return out;
}

void ChaCha20Poly1305::open(const Nonce& nonce, ByteView ad, ByteView ciphertextAndTag,
                            std::initializer_list<MutableByteView> outParts) {
  if (ciphertextAndTag.size() < kTagBytes) throw CryptoError("ciphertext shorter than its tag");
  ByteView ciphertext = ciphertextAndTag.first(ciphertextAndTag.size() - kTagBytes);
  ByteView tag = ciphertextAndTag.last(kTagBytes);
  std::size_t total = 0;
  for (MutableByteView part : outParts) total += part.size();
  if (total != ciphertext.size()) throw CryptoError("open output has wrong size");

  EVP_CIPHER_CTX* ctx = context_->decrypt;
  check(EVP_DecryptInit_ex2(ctx, nullptr, nullptr, nonce.data(), nullptr), "cipher nonce failed");
  int written = 0;
  if (!ad.empty()) {
    check(EVP_DecryptUpdate(ctx, nullptr, &written, ad.data(), toInt(ad.size())), "open failed");
  }
  const std::uint8_t* input = ciphertext.data();
  for (MutableByteView part : outParts) {
    if (part.empty()) continue;
    check(EVP_DecryptUpdate(ctx, part.data(), &written, input, toInt(part.size())),
          "open failed");
    input += part.size();
  }
  check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(kTagBytes),
                            const_cast<std::uint8_t*>(tag.data())),
        "open tag failed");
  std::uint8_t finalBlock[16];
  if (EVP_DecryptFinal_ex(ctx, finalBlock, &written) != 1) {
    ERR_clear_error();
    for (MutableByteView part : outParts) wipe(part);
    throw CryptoError("authentication failure");
  }
}

Bytes ChaCha20Poly1305::open(const Nonce& nonce, ByteView ad, ByteView ciphertextAndTag) {
  if (ciphertextAndTag.size() < kTagBytes) throw CryptoError("ciphertext shorter than its tag");
  Bytes out(ciphertextAndTag.size() - kTagBytes);
  open(nonce, ad, ciphertextAndTag, {MutableByteView(out)});
  return out;
}

// ---- Ed25519

constexpr std::size_t kEd25519SignatureBytes = 64;

struct Ed25519PublicKey::Handle {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
};

Ed25519PublicKey::Ed25519PublicKey(std::shared_ptr<const Handle> handle)
    : handle_(std::move(handle)) {}

Ed25519PublicKey Ed25519PublicKey::fromRaw(ByteView raw32) {
  if (raw32.size() != kKeyBytes) {
    throw CryptoError("Ed25519 public key must be 32 bytes, got " + std::to_string(raw32.size()));
  }
  ERR_clear_error();
  EVP_PKEY* key =
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw32.data(), raw32.size());
  if (key == nullptr) fail("invalid Ed25519 public key");
  auto handle = std::make_shared<Handle>();
  handle->key.reset(key);
  return Ed25519PublicKey(std::move(handle));
}

bool Ed25519PublicKey::verify(ByteView message, ByteView signature64) const {
  if (signature64.size() != kEd25519SignatureBytes) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx) fail("cannot make an Ed25519 context");
  // Pure Ed25519 hashes the message itself, so no digest is named and the message goes in
  // one call.
  check(EVP_DigestVerifyInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, handle_->key.get(),
                                nullptr),
        "cannot start an Ed25519 verification");
  int result = EVP_DigestVerify(ctx.get(), signature64.data(), signature64.size(), message.data(),
                                message.size());
  // A mismatch leaves an entry in the library's error queue; it is an answer, not a failure.
  ERR_clear_error();
  return result == 1;
}

// ---- RSA

struct RsaPrivateKey::Handle {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
};

RsaPrivateKey::RsaPrivateKey(std::shared_ptr<const Handle> handle) : handle_(std::move(handle)) {}

RsaPrivateKey RsaPrivateKey::fromPkcs1Der(ByteView der) {
  ERR_clear_error();
  const unsigned char* cursor = der.data();
  long length = static_cast<long>(der.size());
  EVP_PKEY* key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &cursor, length);
  if (key == nullptr) fail("unknown");
  auto handle = std::make_shared<Handle>();
  handle->key.reset(key);
  return RsaPrivateKey(std::move(handle));
}

bool RsaPrivateKey::supportsSha256Pkcs1v15() const {
  // The DigestInfo of a SHA-256 digest is 51 bytes; PKCS#1 v1.5 padding adds at least 11.
  constexpr int kSmallestModulusBytes = 51 + 11;
  return EVP_PKEY_get_size(handle_->key.get()) >= kSmallestModulusBytes;
}

Bytes RsaPrivateKey::signSha256Pkcs1v15(ByteView message) const {
  ERR_clear_error();
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx) fail("unknown");
  EVP_PKEY_CTX* keyContext = nullptr;  // owned by ctx
  check(EVP_DigestSignInit_ex(ctx.get(), &keyContext, "SHA256", nullptr, nullptr,
                              handle_->key.get(), nullptr),
        "unknown");
  check(EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING), "unknown");
  std::size_t length = 0;
  check(EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size()), "unknown");
  Bytes signature(length);
  check(EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()),
        "unknown");
  signature.resize(length);
  return signature;
}

// ---- SHA-256, HMAC, HKDF

struct Sha256::Context {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  if (context_->ctx == nullptr) fail("digest context allocation failed");
  check(EVP_DigestInit_ex2(context_->ctx, sha256Digest(), nullptr), "SHA-256 init failed");
}
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

Sha256& Sha256::update(ByteView data) {
  check(EVP_DigestUpdate(context_->ctx, data.data(), data.size()), "SHA-256 update failed");
  return *this;
}

Digest Sha256::finish() {
  Digest digest{};
  unsigned int length = 0;
  check(EVP_DigestFinal_ex(context_->ctx, digest.data(), &length), "SHA-256 final failed");
  return digest;
}

Digest sha256(ByteView data) { return Sha256().update(data).finish(); }

Digest hmacSha256(ByteView key, ByteView data) {
  Digest mac{};
  unsigned int length = 0;
  // A zero-length key still needs a valid pointer.
  static const std::uint8_t kEmpty = 0;
  const std::uint8_t* keyData = key.empty() ? &kEmpty : key.data();
  if (HMAC(sha256Digest(), keyData, toInt(key.size()), data.data(), data.size(), mac.data(),
           &length) == nullptr) {
    fail("HMAC-SHA-256 failed");
  }
  return mac;
}

Bytes hkdfSha256(ByteView salt, ByteView inputKeyMaterial, ByteView info, std::size_t length) {
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> ctx(EVP_KDF_CTX_new(hkdfKdf()),
                                                                 &EVP_KDF_CTX_free);
  if (!ctx) fail("HKDF context allocation failed");
  static const std::uint8_t kEmpty = 0;
  auto octets = [](ByteView bytes) {
    return const_cast<std::uint8_t*>(bytes.empty() ? &kEmpty : bytes.data());
  };
  char digestName[] = "SHA256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, octets(salt), salt.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, octets(inputKeyMaterial),
                                        inputKeyMaterial.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, octets(info), info.size()),
      OSSL_PARAM_construct_end()};
  Bytes out(length);
  check(EVP_KDF_derive(ctx.get(), out.data(), out.size(), params), "HKDF-SHA-256 failed");
  return out;
}

Bytes randomBytes(std::size_t count) {
  Bytes out(count);
  fillRandom(out);
  return out;
}

void fillRandom(MutableByteView out) {
  if (out.empty()) return;
  check(RAND_bytes(out.data(), toInt(out.size())), "secure random generator failed");
}

}  // namespace ferrytide::crypto
