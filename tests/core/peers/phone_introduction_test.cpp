#include "core/peers/phone_introduction.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace ferrytide {
namespace {

constexpr std::int64_t kPayloadPort = 47819;
const std::string kDash = "\u2014";

PhoneIntroduction decode(const std::string& text) {
  return PhoneIntroduction::decode(asBytes(text), kPayloadPort);
}

PhoneIntroduction defaults() { return {kDash, kDash, kPayloadPort, kDash, "", "", ""}; }

TEST(PhoneIntroductionTest, FullIntroductionBecomesThePeerRecord) {
  auto intro =
      decode(R"({"peer_android":"Android 14","peer_fcm_token":"tok:1","peer_hostname":"Pixel 8",)"
             R"("peer_ip":"192.168.1.23","peer_port":47820,)"
             R"("peer_pubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=",)"
             R"("peer_subnet":"192.168.1.0/24","unknown":true})");
  EXPECT_EQ(intro.pubkeyB64, "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=");
  EXPECT_EQ(intro.pubkeyBytes().size(), 32u);

  const PeerRecord expected{
      intro.pubkeyB64, "192.168.1.23", 47820,   "192.168.1.0/24", "Pixel 8", "",
      1733480000123,   "MACKEYB64=",   "tok:1", "Android 14"};
  EXPECT_EQ(intro.toPeerRecord("MACKEYB64=", 1733480000123), expected);
}

TEST(PhoneIntroductionTest, MissingKeysValuesOfOtherTypesAndNonObjectsTakeTheDefaults) {
  for (const char* text : {"{}", "[1,2]", "42", "null",
                           R"({"peer_hostname":5,"peer_ip":null,"peer_subnet":[],"peer_pubkey":1,)"
                           R"("peer_port":"47820","peer_fcm_token":false,"peer_android":{}})"}) {
    EXPECT_EQ(decode(text), defaults()) << text;
  }
  EXPECT_TRUE(decode("{}").pubkeyBytes().empty());
}

TEST(PhoneIntroductionTest, AnyNumberIsAPortTruncatedAndUnrepresentableOnesAreIgnored) {
  struct Case {
    const char* value;
    std::int64_t port;
  };
  const std::vector<Case> cases = {
      {"47820", 47820},
      {"47820.9", 47820},
      {"-1.5", -1},
      {"-5", -5},
      {"1e30", kPayloadPort},
      {"-1e30", kPayloadPort},
      {"18446744073709551615", kPayloadPort},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode(std::string(R"({"peer_port":)") + c.value + "}").port, c.port) << c.value;
  }
}

TEST(PhoneIntroductionTest, PubkeyThatIsNotBase64GivesNoKeyBytes) {
  for (const char* key :
       {"not base64!", "q83v EjRW", "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA"}) {
    auto intro = decode(std::string(R"({"peer_pubkey":")") + key + "\"}");
    EXPECT_EQ(intro.pubkeyB64, key);
    EXPECT_TRUE(intro.pubkeyBytes().empty()) << key;
  }
}

TEST(PhoneIntroductionTest, BytesThatAreNotJsonFail) {
  for (std::string text : {std::string(), std::string("{"), std::string("{} {}")}) {
    try {
      decode(text);
      ADD_FAILURE() << "decoded: " << text;
    } catch (const PhoneIntroduction::Error& error) {
      EXPECT_EQ(error.kind(), PhoneIntroduction::Error::Kind::notJson);
      EXPECT_NE(std::string(error.what()).find("parse error"), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace ferrytide
