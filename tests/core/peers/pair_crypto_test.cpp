#include "core/peers/pair_crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrytide {
namespace {

// Vectors made with an independent HKDF and ChaCha20-Poly1305 implementation:
// secret 00..1f, Mac key 20..3f, phone key 40..5f, nonce a0..ab.
Bytes range(std::uint8_t first, std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}
const Bytes kSecret = range(0x00, 32);
const Bytes kMacKey = range(0x20, 32);
const Bytes kPhoneKey = range(0x40, 32);
constexpr const char* kAeadKeyHex =
    "e7333d95f001d176e602176805354ec265efadb9b18c7cf2b0b413cb91db0f9d";
constexpr const char* kSealedHex =
    "a0a1a2a3a4a5a6a7a8a9aaabfe6c6253ce1bebb7726d59a49c1c33b38c1d15cc05baa14fa741150dcc5a27d61d"
    "81c4437bc8e820691bd6";
constexpr const char* kSealedPlaintext = "{\"peer_hostname\":\"Pixel 8\"}";

std::string openFailure(ByteView blob, const crypto::SecretKey& key) {
  try {
    PairCrypto::openIntroduction(blob, key);
    return "<opened>";
  } catch (const PairCrypto::Error& error) {
    return error.what();
  }
}

TEST(PairCryptoTest, DerivedKeyOpensAnIntroductionSealedByAnotherImplementation) {
  auto key = PairCrypto::deriveAEADKey(kSecret);
  EXPECT_EQ(toHex(key.view()), kAeadKeyHex);
  EXPECT_EQ(toString(PairCrypto::openIntroduction(*fromHex(kSealedHex), key)), kSealedPlaintext);
}

TEST(PairCryptoTest, SealedIntroductionsOpenAndUseAFreshNonceEachTime) {
  auto key = PairCrypto::deriveAEADKey(kSecret);
  for (std::string plaintext : {std::string(), std::string(kSealedPlaintext)}) {
    Bytes first = PairCrypto::sealIntroduction(asBytes(plaintext), key);
    Bytes second = PairCrypto::sealIntroduction(asBytes(plaintext), key);
    EXPECT_EQ(first.size(), 28 + plaintext.size());
    EXPECT_NE(toHex(ByteView(first).first(12)), toHex(ByteView(second).first(12)));
    EXPECT_EQ(toString(PairCrypto::openIntroduction(first, key)), plaintext);
    EXPECT_EQ(toString(PairCrypto::openIntroduction(second, key)), plaintext);
  }
}

TEST(PairCryptoTest, HostileBlobsFailWithTheirError) {
  auto key = PairCrypto::deriveAEADKey(kSecret);
  Bytes flippedNonce = *fromHex(kSealedHex);
  flippedNonce[0] ^= 1;
  const std::string openFailed = "ChaChaPoly.open failed: authentication failure";
  struct Case {
    const char* name;
    Bytes blob;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"27 bytes", Bytes(27, 0x5a), "wire ciphertext < 16-byte tag"},
      {"28 zero bytes", Bytes(28, 0), openFailed},
      {"flipped nonce", flippedNonce, openFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(openFailure(c.blob, key), c.expected) << c.name;
}

TEST(PairCryptoTest, ConfirmationCodeMatchesTheVectorsWithLeadingZeros) {
  const Bytes plaintext = toBytes("{\"peer_hostname\":\"phone-3\"}");
  EXPECT_EQ(PairCrypto::confirmationCode(kSecret, kMacKey, kPhoneKey, plaintext), "0286");
  // An absent phone key leaves the salt shorter; the code still forms.
  EXPECT_EQ(PairCrypto::confirmationCode(kSecret, kMacKey, {}, plaintext), "3637");
  EXPECT_EQ(PairCrypto::confirmationCode(kSecret, kMacKey, kPhoneKey,
                                         toBytes("{\"peer_hostname\":\"phone-4\"}")),
            "1984");
}

}  // namespace
}  // namespace ferrytide
