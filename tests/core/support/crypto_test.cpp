#include "core/support/crypto.h"

#include <gtest/gtest.h>

#include "core/support/bytes.h"

namespace ferrytide {
namespace {

using crypto::X25519PrivateKey;
using crypto::X25519PublicKey;

Bytes bytesOf(std::string_view hex) { return fromHex(hex).value(); }

// RFC 7748, section 6.1. A side's public key is the one it computed from its private key, and
// for the other side the one read from raw bytes: the agreement must come out the same.
TEST(X25519Test, AgreesWithTheReferenceVectorWhicheverWayThePublicKeyWasMade) {
  const auto alice = X25519PrivateKey::fromRaw(
      bytesOf("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
  const auto bob = X25519PrivateKey::fromRaw(
      bytesOf("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
  const std::string bobPublic = "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f";
  const std::string shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";

  EXPECT_EQ(toHex(alice.publicKey().view()),
            "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(toHex(bob.publicKey().view()), bobPublic);
  EXPECT_EQ(toHex(bob.sharedSecret(alice.publicKey()).view()), shared);
  EXPECT_EQ(toHex(alice.sharedSecret(X25519PublicKey::fromRaw(bytesOf(bobPublic))).view()), shared);

  const auto fresh = X25519PrivateKey::generate();
  EXPECT_EQ(toHex(fresh.sharedSecret(alice.publicKey()).view()),
            toHex(alice.sharedSecret(X25519PublicKey::fromRaw(fresh.publicKey().view())).view()));
  // A low-order point gives an all-zero secret, which the library refuses.
  EXPECT_THROW(alice.sharedSecret(X25519PublicKey::fromRaw(Bytes(32, 0))), crypto::CryptoError);
}

}  // namespace
}  // namespace ferrytide
