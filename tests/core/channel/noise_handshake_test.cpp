#include "core/channel/noise_handshake.h"

#include <gtest/gtest.h>

namespace ferrytide {
namespace {

using crypto::X25519PrivateKey;

struct Pair {
  NoiseHandshake initiator;
  NoiseHandshake responder;
};

Pair makePair(ByteView initiatorPrologue = asBytes(kFerrytidePrologue),
              ByteView responderPrologue = asBytes(kFerrytidePrologue)) {
  return Pair{NoiseHandshake(NoiseRole::initiator, X25519PrivateKey::generate(), initiatorPrologue),
              NoiseHandshake(NoiseRole::responder, X25519PrivateKey::generate(), responderPrologue)};
}

// Runs `call` and returns the NoiseError it throws.
template <typename Call>
NoiseError noiseErrorOf(Call&& call) {
  try {
    call();
  } catch (const NoiseError& error) {
    return error;
  }
  ADD_FAILURE() << "no NoiseError thrown";
  return NoiseError::notComplete();
}

TEST(NoiseHandshakeTest, BothSidesAgreeAndTransportFramesOpenOnTheOtherSide) {
  auto initiatorKey = X25519PrivateKey::generate();
  auto responderKey = X25519PrivateKey::generate();
  NoiseHandshake initiator(NoiseRole::initiator, initiatorKey);
  NoiseHandshake responder(NoiseRole::responder, responderKey);

  Bytes message1 = initiator.writeMessage();
  EXPECT_EQ(message1.size(), 32u);
  responder.readMessage(message1);
  Bytes message2 = responder.writeMessage();
  EXPECT_EQ(message2.size(), 96u);
  initiator.readMessage(message2);
  Bytes message3 = initiator.writeMessage();
  EXPECT_EQ(message3.size(), 64u);
  responder.readMessage(message3);
  EXPECT_TRUE(initiator.isComplete());
  EXPECT_TRUE(responder.isComplete());

  NoiseTransport a = initiator.finalize();
  NoiseTransport b = responder.finalize();
  EXPECT_EQ(a.handshakeHash(), b.handshakeHash());
  EXPECT_EQ(a.remoteStaticPublicKey(), responderKey.publicKey());
  EXPECT_EQ(b.remoteStaticPublicKey(), initiatorKey.publicKey());

  for (int i = 0; i < 3; ++i) {
    Bytes hello = toBytes("frame " + std::to_string(i));
    EXPECT_EQ(b.decrypt(a.encrypt(hello, {}), {}), hello);
    EXPECT_EQ(a.decrypt(b.encrypt(hello, {}), {}), hello);
  }
}

TEST(NoiseHandshakeTest, DifferentProloguesFailAtMessageTwo) {
  Pair pair = makePair(asBytes("Ferrytide_v1"), asBytes("Ferrytide_v2"));
  pair.responder.readMessage(pair.initiator.writeMessage());
  Bytes message2 = pair.responder.writeMessage();
  auto error = noiseErrorOf([&] { pair.initiator.readMessage(message2); });
  EXPECT_EQ(error.kind(), NoiseError::Kind::decrypt);
  EXPECT_EQ(std::string(error.what()).rfind("noise decrypt failed: ", 0), 0u);
}

TEST(NoiseHandshakeTest, ShortMessagesReportWhatWasNeeded) {
  struct Case {
    std::size_t cut;  // bytes of the real message kept
    int message;
    const char* text;
  };
  const Case cases[] = {
      {31, 1, "noise message too short (expected \u2265 32, got 31)"},
      {79, 2, "noise message too short (expected \u2265 48, got 47)"},
      {95, 2, "noise message too short (expected \u2265 16, got 15)"},
      {47, 3, "noise message too short (expected \u2265 48, got 47)"},
      {63, 3, "noise message too short (expected \u2265 16, got 15)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Pair pair = makePair();
    Bytes message = pair.initiator.writeMessage();
    if (c.message >= 2) {
      pair.responder.readMessage(message);
      message = pair.responder.writeMessage();
    }
    if (c.message == 3) {
      pair.initiator.readMessage(message);
      message = pair.initiator.writeMessage();
    }
    NoiseHandshake& reader = c.message == 2 ? pair.initiator : pair.responder;
    message.resize(c.cut);
    auto error = noiseErrorOf([&] { reader.readMessage(message); });
    EXPECT_EQ(error.kind(), NoiseError::Kind::messageTooShort);
    EXPECT_STREQ(error.what(), c.text);
  }
}

TEST(NoiseHandshakeTest, OutOfOrderCallsAreRefused) {
  Pair pair = makePair();
  pair.initiator.writeMessage();
  EXPECT_STREQ(noiseErrorOf([&] { pair.initiator.writeMessage(); }).what(),
               "noise initiator cannot writeMessage at step 1");
  EXPECT_STREQ(noiseErrorOf([&] { pair.responder.writeMessage(); }).what(),
               "noise responder cannot writeMessage at step 0");
  EXPECT_STREQ(noiseErrorOf([&] { pair.initiator.finalize(); }).what(), "handshake not complete");
}

TEST(NoiseHandshakeTest, FinishedHandshakeRefusesMoreMessagesAndGivesOneTransport) {
  Pair pair = makePair();
  pair.responder.readMessage(pair.initiator.writeMessage());
  pair.initiator.readMessage(pair.responder.writeMessage());
  Bytes message3 = pair.initiator.writeMessage();
  EXPECT_STREQ(noiseErrorOf([&] { pair.responder.finalize(); }).what(), "handshake not complete");
  pair.responder.readMessage(message3);
  (void)pair.initiator.finalize();
  (void)pair.responder.finalize();
  EXPECT_STREQ(noiseErrorOf([&] { pair.initiator.writeMessage(); }).what(),
               "handshake already complete");
  EXPECT_STREQ(noiseErrorOf([&] { pair.responder.readMessage(message3); }).what(),
               "handshake already complete");
  EXPECT_STREQ(noiseErrorOf([&] { pair.initiator.finalize(); }).what(),
               "handshake already complete");
}

TEST(NoiseHandshakeTest, FailedHandshakeStaysFailed) {
  Pair pair = makePair();
  pair.responder.readMessage(pair.initiator.writeMessage());
  Bytes message2 = pair.responder.writeMessage();
  Bytes corrupted = message2;
  corrupted[40] ^= 0x01;
  EXPECT_EQ(noiseErrorOf([&] { pair.initiator.readMessage(corrupted); }).kind(),
            NoiseError::Kind::decrypt);
  // The good message no longer helps: h and ck have already moved.
  EXPECT_EQ(noiseErrorOf([&] { pair.initiator.readMessage(message2); }).kind(),
            NoiseError::Kind::decrypt);
}

TEST(NoiseHandshakeTest, ExtraBytesInMessageOneAreIgnoredPayload) {
  Pair pair = makePair();
  Bytes message1 = pair.initiator.writeMessage(toBytes("clear"));
  EXPECT_EQ(message1.size(), 37u);
  EXPECT_EQ(toString(pair.responder.readMessage(message1)), "clear");
}

TEST(CipherStateTest, NonceLayoutAndFailedOpenKeepsTheNonce) {
  auto nonce = CipherState::encodeNonce(1);
  EXPECT_EQ(toHex(nonce), "000000000100000000000000");
  EXPECT_EQ(toHex(CipherState::encodeNonce(0x0102030405060708)), "000000000807060504030201");

  CipherState sender;
  CipherState receiver;
  crypto::SecretKey key(crypto::randomBytes(32));
  sender.initializeKey(key);
  receiver.initializeKey(key);

  auto tooShort = noiseErrorOf([&] { receiver.decryptWithAD(Bytes(15), {}); });
  EXPECT_EQ(tooShort.kind(), NoiseError::Kind::messageTooShort);
  EXPECT_EQ(tooShort.expected(), 16u);
  EXPECT_EQ(receiver.nonce(), 0u);

  Bytes sealed = sender.encryptWithAD(toBytes("hello"), toBytes("ad"));
  EXPECT_EQ(noiseErrorOf([&] { receiver.decryptWithAD(sealed, toBytes("other")); }).kind(),
            NoiseError::Kind::decrypt);
  EXPECT_EQ(receiver.nonce(), 0u);
  EXPECT_EQ(toString(receiver.decryptWithAD(sealed, toBytes("ad"))), "hello");
  EXPECT_EQ(receiver.nonce(), 1u);
}

TEST(CipherStateTest, WithoutKeyBytesPassThrough) {
  CipherState state;
  Bytes data = toBytes("plain");
  EXPECT_EQ(state.encryptWithAD(data, {}), data);
  EXPECT_EQ(state.decryptWithAD(data, {}), data);
  EXPECT_EQ(state.nonce(), 0u);
}

}  // namespace
}  // namespace ferrytide
