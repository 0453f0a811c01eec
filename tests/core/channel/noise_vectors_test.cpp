// Runs every published Noise_XX_25519_ChaChaPoly_SHA256 vector in both roles: each handshake
// message, the final handshake hash and the transport messages after the split must match.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/channel/noise_handshake.h"
#include "core/support/json.h"
#include "support/noise_test_peer.h"

namespace ferrytide {
namespace {

const std::filesystem::path kVectorDir = std::filesystem::path(FERRYTIDE_TESTDATA_DIR) / "noise";

Bytes hex(const json::Value& value) {
  auto bytes = fromHex(value.get<std::string>());
  if (!bytes) throw std::runtime_error("bad hex in vector file");
  return *bytes;
}

crypto::X25519PrivateKey key(const json::Value& vector, const char* field) {
  return crypto::X25519PrivateKey::fromRaw(hex(vector.at(field)));
}

json::Value loadVectors(const std::string& file) {
  std::ifstream in(kVectorDir / file);
  std::stringstream text;
  text << in.rdbuf();
  return json::parse(text.str()).at("vectors");
}

void runVector(const json::Value& vector) {
  ASSERT_EQ(vector.at("protocol_name"), "Noise_XX_25519_ChaChaPoly_SHA256");
  NoiseHandshake initiator(NoiseRole::initiator, key(vector, "init_static"),
                           hex(vector.at("init_prologue")));
  NoiseHandshake responder(NoiseRole::responder, key(vector, "resp_static"),
                           hex(vector.at("resp_prologue")));
  NoiseHandshakeTestPeer::presetEphemeral(initiator, key(vector, "init_ephemeral"));
  NoiseHandshakeTestPeer::presetEphemeral(responder, key(vector, "resp_ephemeral"));

  const auto& messages = vector.at("messages");
  ASSERT_GE(messages.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    NoiseHandshake& writer = (i % 2 == 0) ? initiator : responder;
    NoiseHandshake& reader = (i % 2 == 0) ? responder : initiator;
    Bytes payload = hex(messages[i].at("payload"));
    Bytes message = writer.writeMessage(payload);
    EXPECT_EQ(toHex(message), toHex(hex(messages[i].at("ciphertext")))) << "handshake message " << i;
    EXPECT_EQ(toHex(reader.readMessage(message)), toHex(payload)) << "handshake message " << i;
  }
  if (vector.contains("handshake_hash")) {
    EXPECT_EQ(toHex(initiator.handshakeHash()), toHex(hex(vector.at("handshake_hash"))));
  }
  EXPECT_EQ(toHex(initiator.handshakeHash()), toHex(responder.handshakeHash()));

  NoiseTransport initiatorTransport = initiator.finalize();
  NoiseTransport responderTransport = responder.finalize();
  for (std::size_t i = 3; i < messages.size(); ++i) {
    NoiseTransport& sender = (i % 2 == 0) ? initiatorTransport : responderTransport;
    NoiseTransport& receiver = (i % 2 == 0) ? responderTransport : initiatorTransport;
    Bytes payload = hex(messages[i].at("payload"));
    Bytes sealed = sender.encrypt(payload, {});
    EXPECT_EQ(toHex(sealed), toHex(hex(messages[i].at("ciphertext")))) << "transport message " << i;
    EXPECT_EQ(toHex(receiver.decrypt(sealed, {})), toHex(payload)) << "transport message " << i;
  }
}

TEST(NoiseVectorsTest, EveryPublishedVectorMatchesInBothRoles) {
  int run = 0;
  for (const char* file :
       {"cacophony_XX_25519_ChaChaPoly_SHA256.json", "snow_XX_25519_ChaChaPoly_SHA256.json"}) {
    for (const auto& vector : loadVectors(file)) {
      SCOPED_TRACE(file);
      runVector(vector);
      ++run;
    }
  }
  EXPECT_GE(run, 2);
}

}  // namespace
}  // namespace ferrytide
