#include "core/peers/pairing_payload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/support/base64.h"
#include "core/support/json.h"

namespace ferrytide {
namespace {

PairingPayload samplePayload() {
  PairingPayload payload;
  payload.peer_pubkey = base64::encode(Bytes(32, 0xff));  // "////...8="
  payload.peer_ip = "192.168.1.37";
  payload.peer_port = 47819;
  payload.peer_subnet = "192.168.1.0/24";
  payload.peer_hostname = "Studio";
  payload.peer_mac = "0a:11:22:33:44:55";
  payload.pairing_secret = base64::encode(Bytes(32, 0xfb));  // "+/v7..."
  return payload;
}

TEST(PairingPayloadTest, JsonHasTheEightKeysSortedCompactWithSlashUnescaped) {
  PairingPayload payload = samplePayload();
  std::string expected =
      "{\"pairing_secret\":\"" + payload.pairing_secret +
      "\",\"peer_hostname\":\"Studio\",\"peer_ip\":\"192.168.1.37\","
      "\"peer_mac\":\"0a:11:22:33:44:55\",\"peer_port\":47819,\"peer_pubkey\":\"" +
      payload.peer_pubkey + "\",\"peer_subnet\":\"192.168.1.0/24\",\"version\":1}";
  ASSERT_NE(payload.peer_pubkey.find('/'), std::string::npos);
  ASSERT_NE(payload.pairing_secret.find('/'), std::string::npos);
  EXPECT_EQ(toString(payload.jsonData()), expected);
  EXPECT_EQ(payload.jsonString(), expected);
}

TEST(PairingPayloadTest, DecodeReadsItsOwnJsonBackAndIgnoresUnknownKeys) {
  PairingPayload payload = samplePayload();
  payload.peer_hostname = "Zoë's desk";
  EXPECT_EQ(PairingPayload::decode(payload.jsonData()), payload);

  json::Value object = json::parse(payload.jsonString());
  object["peer_android"] = "ignored";
  object["extra"] = json::Value::array({1, 2});
  EXPECT_EQ(PairingPayload::decode(toBytes(object.dump())), payload);
}

TEST(PairingPayloadTest, DecodeRejectsMissingKeysWrongTypesAndNonJson) {
  const json::Value valid = json::parse(samplePayload().jsonString());
  struct Case {
    std::string input;
    std::string expected;  // the whole description, or its start when it ends in "..."
  };
  std::vector<Case> cases;
  for (const auto& [key, value] : valid.items()) {
    json::Value without = valid;
    without.erase(key);
    cases.push_back({without.dump(), "JSON decode failed: key \"" + key + "\" not found"});
  }
  auto with = [&](const char* key, json::Value value) {
    json::Value changed = valid;
    changed[key] = std::move(value);
    return changed.dump();
  };
  cases.push_back({with("peer_port", "47819"),
                   "JSON decode failed: key \"peer_port\" is not a signed 64-bit integer"});
  cases.push_back(
      {with("peer_ip", 3232235813), "JSON decode failed: key \"peer_ip\" is not a string"});
  cases.push_back(
      {with("pairing_secret", nullptr), "JSON decode failed: key \"pairing_secret\" not found"});
  cases.push_back({"[1,2]", "JSON decode failed: expected a JSON object"});
  cases.push_back({"", "JSON decode failed: ..."});
  cases.push_back({valid.dump().substr(0, 40), "JSON decode failed: ..."});

  for (const Case& c : cases) {
    try {
      PairingPayload::decode(toBytes(c.input));
      ADD_FAILURE() << "accepted: " << c.input;
    } catch (const PairingError& error) {
      EXPECT_EQ(error.kind(), PairingError::Kind::decodingFailed) << c.input;
      if (c.expected.ends_with("...")) {
        EXPECT_TRUE(error.description().starts_with(c.expected.substr(0, c.expected.size() - 3)))
            << error.what();
      } else {
        EXPECT_EQ(error.description(), c.expected) << c.input;
      }
    }
  }
}

TEST(PairingPayloadTest, FieldThatIsNotUtf8FailsToEncode) {
  PairingPayload payload = samplePayload();
  payload.peer_hostname = "desk\xff";
  try {
    payload.jsonString();
    FAIL() << "invalid UTF-8 was encoded";
  } catch (const PairingError& error) {
    EXPECT_EQ(error.kind(), PairingError::Kind::encodingFailed);
    EXPECT_TRUE(error.description().starts_with("JSON encode failed: ")) << error.what();
  }
}

TEST(PairingPayloadTest, MintTakesKeyAndDeviceAndTwoMintsDifferOnlyInTheSecret) {
  auto key = crypto::X25519PrivateKey::generate().publicKey();
  DeviceInfo device{"eth0", "10.0.0.7", "10.0.0.0/8", "0a:11:22:33:44:55", "Desk"};

  PairingPayload first = PairingPayload::mint(key, device, 47819);
  PairingPayload second = PairingPayload::mint(key, device, 47819);
  EXPECT_EQ(base64::decode(first.pairing_secret).value_or(Bytes{}).size(), 32u);
  EXPECT_NE(first.pairing_secret, second.pairing_secret);

  const PairingPayload expected{
      1,      base64::encode(key.view()), "10.0.0.7",          47819, "10.0.0.0/8",
      "Desk", "0a:11:22:33:44:55",        first.pairing_secret};
  EXPECT_EQ(first, expected);
}

}  // namespace
}  // namespace ferrytide
