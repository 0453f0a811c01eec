#pragma once

// The one wrapper over the crypto library. No library type appears outside crypto.cpp:
// keys and cipher contexts are held behind opaque handles that free (and wipe) themselves.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide::crypto {

inline constexpr std::size_t kKeyBytes = 32;
inline constexpr std::size_t kTagBytes = 16;
inline constexpr std::size_t kNonceBytes = 12;
inline constexpr std::size_t kDigestBytes = 32;

using Digest = std::array<std::uint8_t, kDigestBytes>;
using Nonce = std::array<std::uint8_t, kNonceBytes>;
using MutableByteView = std::span<std::uint8_t>;

// A failure reported by the crypto library; the description is the library's own.
class CryptoError : public Error {
 public:
  using Error::Error;
};

// Overwrites memory in a way the optimiser cannot drop.
void wipe(MutableByteView bytes);

// Equal length and equal content, in time that depends only on the length.
bool constantTimeEquals(ByteView a, ByteView b);

// 32 secret bytes (a symmetric key, a DH output, a raw private key); wiped when dropped.
class SecretKey {
 public:
  SecretKey() = default;
  // Throws CryptoError unless `bytes` holds exactly 32 bytes.
  explicit SecretKey(ByteView bytes);
  SecretKey(const SecretKey&) = default;
  SecretKey& operator=(const SecretKey&) = default;
  ~SecretKey();

  ByteView view() const { return bytes_; }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::uint8_t* data() { return bytes_.data(); }
  static constexpr std::size_t size() { return kKeyBytes; }

 private:
  std::array<std::uint8_t, kKeyBytes> bytes_{};
};

class X25519PublicKey {
 public:
  // Throws CryptoError when the bytes are not a usable X25519 public key.
  static X25519PublicKey fromRaw(ByteView raw);

  const std::array<std::uint8_t, kKeyBytes>& raw() const { return raw_; }
  ByteView view() const { return raw_; }
  bool operator==(const X25519PublicKey& other) const { return raw_ == other.raw_; }

 private:
  friend class X25519PrivateKey;
  struct Handle;
  X25519PublicKey(std::array<std::uint8_t, kKeyBytes> raw, std::shared_ptr<const Handle> handle);

  std::array<std::uint8_t, kKeyBytes> raw_{};
  std::shared_ptr<const Handle> handle_;
};

// A private key with its public key computed once, so that a handshake costs only the
// operations it really needs. Copies share the same immutable key.
class X25519PrivateKey {
 public:
  static X25519PrivateKey generate();
  // Throws CryptoError unless `raw` is 32 bytes the library accepts.
  static X25519PrivateKey fromRaw(ByteView raw);

  SecretKey rawRepresentation() const;
  const X25519PublicKey& publicKey() const { return publicKey_; }
  // The 32-byte X25519 shared secret; throws CryptoError when the library refuses it
  // (for example an all-zero result from a low-order point).
  SecretKey sharedSecret(const X25519PublicKey& peer) const;

 private:
  struct Handle;
  X25519PrivateKey(std::shared_ptr<const Handle> handle, X25519PublicKey publicKey);
  static X25519PublicKey publicHalf(const Handle& handle);

  std::shared_ptr<const Handle> handle_;
  X25519PublicKey publicKey_;
};

// An Ed25519 public key that checks signatures (pure Ed25519, RFC 8032). Copies share the
// same immutable key.
class Ed25519PublicKey {
 public:
  // Throws CryptoError unless `raw32` is 32 bytes the library accepts.
  static Ed25519PublicKey fromRaw(ByteView raw32);

  // Whether `signature64` is this key's signature over the whole of `message`; a signature
  // that is not 64 bytes long is simply not one.
  bool verify(ByteView message, ByteView signature64) const;

 private:
  struct Handle;
  explicit Ed25519PublicKey(std::shared_ptr<const Handle> handle);
  std::shared_ptr<const Handle> handle_;
};

// ChaCha20-Poly1305 (IETF: 12-byte nonce, 16-byte tag) under one key. The context is made
// once and reused for every nonce. Plaintext may be given, and received, in several parts,
// so that a frame's header and body need not be copied together.
class ChaCha20Poly1305 {
 public:
  explicit ChaCha20Poly1305(const SecretKey& key);
  ChaCha20Poly1305(ChaCha20Poly1305&&) noexcept;
  ChaCha20Poly1305& operator=(ChaCha20Poly1305&&) noexcept;
  ~ChaCha20Poly1305();

  // Writes the ciphertext of the concatenated parts, then the tag, to `out`, which must hold
  // the parts' total size + 16 bytes.
  void seal(const Nonce& nonce, ByteView ad, std::initializer_list<ByteView> plaintextParts,
            MutableByteView out);
  Bytes seal(const Nonce& nonce, ByteView ad, ByteView plaintext);

  // Opens ciphertext ‖ tag into the concatenation of `outParts`, whose total size must be the
  // ciphertext size minus 16. A part may lie exactly over the ciphertext bytes it opens (in
  // place), but must not overlap them otherwise. Throws CryptoError("authentication failure")
  // when the tag does not match; the parts' content is then wiped and meaningless.
  void open(const Nonce& nonce, ByteView ad, ByteView ciphertextAndTag,
            std::initializer_list<MutableByteView> outParts);
  Bytes open(const Nonce& nonce, ByteView ad, ByteView ciphertextAndTag);

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// SHA-256, in one go or in parts.
Digest sha256(ByteView data);
class Sha256 {
 public:
  Sha256();
  Sha256(Sha256&&) noexcept;
  ~Sha256();
  Sha256& update(ByteView data);
  Digest finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

Digest hmacSha256(ByteView key, ByteView data);

// HKDF-SHA-256 (RFC 5869), extract then expand.
Bytes hkdfSha256(ByteView salt, ByteView inputKeyMaterial, ByteView info, std::size_t length);

// An RSA private key for RSASSA-PKCS1-v1_5 signatures with SHA-256. Copies share the same
// immutable key, which the library wipes when the last copy goes.
class RsaPrivateKey {
 public:
  // From the DER bytes of a PKCS#1 RSAPrivateKey. Throws CryptoError with the library's
  // description, or "unknown" when it gives none.
  static RsaPrivateKey fromPkcs1Der(ByteView der);

  // Whether the modulus is long enough to hold a PKCS#1 v1.5 SHA-256 signature block.
  bool supportsSha256Pkcs1v15() const;
  // Hashes `message` with SHA-256 and signs the digest. Throws CryptoError with the library's
  // description, or "unknown".
  Bytes signSha256Pkcs1v15(ByteView message) const;

 private:
  struct Handle;
  explicit RsaPrivateKey(std::shared_ptr<const Handle> handle);
  std::shared_ptr<const Handle> handle_;
};

// Bytes from the system's cryptographically secure generator.
Bytes randomBytes(std::size_t count);
void fillRandom(MutableByteView out);

}  // namespace ferrytide::crypto
