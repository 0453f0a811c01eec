#include "fcm_mock.h"

#include <gtest/gtest.h>

namespace ferrytide::phone {
namespace {

const std::string sendTarget = "/v1/projects/p/messages:send";
const std::string goodAuth = "Bearer fcm-mock-access-token";

std::string sendBody(const std::string& token) {
  return R"({"message":{"android":{"priority":"high"},"data":{"wake":"1"},"token":")" + token +
         R"("}})";
}

TEST(FcmMockTest, OnlyAnAuthorisedSendToThisPhonesTokenWakesIt) {
  struct Case {
    std::string method;
    std::string target;
    std::string authorization;
    std::string body;
    int status;
    bool wakes;
  };
  const Case cases[] = {
      {"POST", sendTarget, goodAuth, sendBody("phone-token"), 200, true},
      {"POST", sendTarget, goodAuth, sendBody("another-token"), 404, false},
      {"POST", sendTarget, "Bearer stale", sendBody("phone-token"), 401, false},
      {"POST", sendTarget, "", sendBody("phone-token"), 401, false},
      {"POST", sendTarget, goodAuth, "not json", 400, false},
      {"POST", sendTarget, goodAuth, R"({"message":{}})", 400, false},
      {"GET", sendTarget, goodAuth, sendBody("phone-token"), 404, false},
      {"POST", "/v1/other", goodAuth, sendBody("phone-token"), 404, false},
  };
  for (const Case& c : cases) {
    int wakes = 0;
    MockReply reply = answerFcmRequest(c.method, c.target, c.authorization, c.body,
                                       "phone-token", [&wakes] { ++wakes; });
    EXPECT_EQ(reply.status, c.status) << c.target << " " << c.body;
    EXPECT_EQ(wakes, c.wakes ? 1 : 0) << c.target << " " << c.body;
  }
}

TEST(FcmMockTest, TokenEndpointHandsOutTheAccessTokenTheSendEndpointWants) {
  MockReply token = answerFcmRequest("POST", "/token", "", "grant_type=x", "t", [] {});
  ASSERT_EQ(token.status, 200);
  EXPECT_NE(token.body.find("\"access_token\":\"fcm-mock-access-token\""), std::string::npos);
}

}  // namespace
}  // namespace ferrytide::phone
