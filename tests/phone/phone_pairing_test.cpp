#include "phone_pairing.h"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <thread>

#include "core/peers/pair_code.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/pair_listener.h"
#include "core/peers/phone_introduction.h"
#include "core/support/base64.h"
#include "phone_error.h"
#include "support/pair_listener_test_peer.h"

namespace ferrytide::phone {
namespace {

using namespace std::chrono_literals;

const DeviceInfo computerDevice{"lo", "127.0.0.1", "127.0.0.0/8", "0a:11:22:33:44:55", "Studio"};
const PhoneProfile profile{"Pixel 8", "127.0.0.1", 47820, "127.0.0.0/8", "dGVzdC10b2tlbg",
                           "Android 14"};

// The core's listener on loopback opens what the emulator seals, and the computer's code
// computed from what it received equals the one the phone shows.
TEST(PhonePairingTest, ListenerOpensTheIntroductionAndBothSidesShowTheSameCode) {
  asio::io_context io;
  auto guard = asio::make_work_guard(io);
  std::thread runner([&io] { io.run(); });

  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  PairingPayload payload = PairingPayload::mint(computerKey.publicKey(), computerDevice, 0);
  Bytes secret = base64::decode(payload.pairing_secret).value();
  PairListener listener(io.get_executor(), secret, 0, 10s, asio::ip::make_address("127.0.0.1"));
  PairListenerTestPeer::Watch watch = PairListenerTestPeer::watch(listener);
  std::future<PairListener::Result> received =
      asio::co_spawn(io, listener.awaitIntroduction(), asio::use_future);
  payload.peer_port = watch.listening.get();

  PreparedPairing prepared = preparePairing(payload, phoneKey.publicKey(), profile);
  std::future<void> sent = asio::co_spawn(
      io, deliverPairFrame("127.0.0.1", payload.peer_port, prepared.frame, 2s), asio::use_future);
  sent.get();
  PairListener::Result result = received.get();
  guard.reset();
  runner.join();

  ASSERT_EQ(result.phoneIntroductionPlaintext, prepared.introductionPlaintext);
  PhoneIntroduction introduction = PhoneIntroduction::decode(result.phoneIntroductionPlaintext, 1);
  EXPECT_EQ(introduction.hostname, profile.hostname);
  EXPECT_EQ(introduction.port, profile.port);
  EXPECT_EQ(introduction.fcmToken, profile.fcmToken);
  EXPECT_EQ(introduction.android, profile.android);
  EXPECT_EQ(introduction.pubkeyBytes(), Bytes(phoneKey.publicKey().view().begin(),
                                              phoneKey.publicKey().view().end()));
  EXPECT_EQ(PairCrypto::confirmationCode(secret, computerKey.publicKey().view(),
                                         introduction.pubkeyBytes(),
                                         result.phoneIntroductionPlaintext),
            prepared.confirmationCode);

  PeerRecord computer = computerRecord(payload, phoneKey.publicKey(), 1733480000000);
  EXPECT_EQ(computer.peer_pubkey, payload.peer_pubkey);
  EXPECT_EQ(computer.peer_mac, payload.peer_mac);
  EXPECT_EQ(computer.self_pubkey, introduction.pubkeyB64);
}

TEST(PhonePairingTest, PayloadsWithoutUsableKeysAreRefused) {
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  PairingPayload valid = PairingPayload::mint(phoneKey.publicKey(), computerDevice, 47819);
  struct Case {
    std::string secret;
    std::string pubkey;
    std::string expected;
  };
  const Case cases[] = {
      {"not base64!", valid.peer_pubkey,
       "pairing payload unreadable: pairing_secret is not Base64 of 32 bytes"},
      {base64::encode(Bytes(31, 1)), valid.peer_pubkey,
       "pairing payload unreadable: pairing_secret is not Base64 of 32 bytes"},
      {valid.pairing_secret, base64::encode(Bytes(33, 1)),
       "pairing payload unreadable: peer_pubkey is not Base64 of 32 bytes"},
  };
  for (const Case& c : cases) {
    PairingPayload payload = valid;
    payload.pairing_secret = c.secret;
    payload.peer_pubkey = c.pubkey;
    try {
      preparePairing(payload, phoneKey.publicKey(), profile);
      ADD_FAILURE() << "accepted " << c.secret << " / " << c.pubkey;
    } catch (const PhoneError& error) {
      EXPECT_STREQ(error.what(), c.expected.c_str());
    }
  }
  EXPECT_THROW(payloadFromJson("{\"version\":1}"), PhoneError);
}

std::string advertLine(const std::string& code, const std::string& pubkey, const std::string& ip,
                       const std::string& port, const std::string& secret) {
  return "=;lo;IPv4;Ferrytide-pair-" + PairCode::hash(code, pubkey).substr(0, 6) +
         ";_ferrytide-pair._tcp;local;studio.local;127.0.0.1;" + port + ";\"t=mac\" \"sec=" +
         secret + "\" \"mac=0a:11:22:33:44:55\" \"hn=My Studio; 2nd\" \"sn=127.0.0.0/8\" \"ip=" +
         ip + "\" \"pk=" + pubkey + "\" \"c=" + PairCode::hash(code, pubkey) + "\" \"v=1\"\n";
}

TEST(PhonePairingTest, TypedCodePicksTheAdvertWhoseHashMatches) {
  std::string keyA = base64::encode(Bytes(32, 0xAA));
  std::string keyB = base64::encode(Bytes(32, 0xBB));
  std::string output = "+;lo;IPv4;Ferrytide-pair-000000;_ferrytide-pair._tcp;local\n"
                       "=;lo;IPv4;broken line\n" +
                       advertLine("1111", keyA, "10.0.0.1", "47819", "secretA") +
                       advertLine("2222", keyB, "10.0.0.2", "47900", "secretB");

  std::optional<PairingPayload> found = payloadFromAdverts(output, "2222");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->peer_pubkey, keyB);
  EXPECT_EQ(found->peer_ip, "10.0.0.2");
  EXPECT_EQ(found->peer_port, 47900);
  EXPECT_EQ(found->pairing_secret, "secretB");
  EXPECT_EQ(found->peer_hostname, "My Studio; 2nd");
  EXPECT_EQ(found->peer_mac, "0a:11:22:33:44:55");
  EXPECT_EQ(found->peer_subnet, "127.0.0.0/8");

  EXPECT_EQ(payloadFromAdverts(output, "1111")->peer_pubkey, keyA);
  EXPECT_FALSE(payloadFromAdverts(output, "3333").has_value());
  EXPECT_FALSE(payloadFromAdverts("", "1111").has_value());
}

}  // namespace
}  // namespace ferrytide::phone
