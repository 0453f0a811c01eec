// One-off messages to a phone over loopback: the real Receiver as the phone, and scripted
// phones for the replies and failures it never produces.

#include "core/transfer/clipboard_sender.h"

#include <gtest/gtest.h>

#include "support/send_harness.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Larger than what the loopback socket buffers hold, so that a phone that never reads makes
// the write wait until the phone's reset fails it.
const std::string kHugeText(12 * 1'048'576, 'x');

class ClipboardSenderTest : public ::testing::Test, public testing::SendHarness {
 protected:
  void TearDown() override { EXPECT_EQ(scriptFailures, std::vector<std::string>{}); }

  OneOffOptions fastOptions() {
    OneOffOptions options;
    options.warmConnectTimeout = 500ms;
    options.postWakeConnectTimeout = 2s;
    options.wakePause = 10ms;
    options.handshakeTimeout = 2s;
    options.replyWindow = 20s;  // a test that waits for the window sets a short one
    options.wake = [this](std::string token) -> asio::awaitable<void> {
      wakeTokens.push_back(token);
      co_return;
    };
    return options;
  }

  testing::TaskOutcome<std::monostate> sendClip(const std::string& text, const PeerRecord& peer,
                                                OneOffOptions options) {
    return run(sendClipboard(text, peer, computerKey, "text/plain", std::move(options)));
  }

  std::vector<std::string> wakeTokens;
};

TEST_F(ClipboardSenderTest, ClipboardReachesAnAwakePhoneWithoutWaitingOutTheWindow) {
  startPhone();
  const auto start = Clock::now();
  const auto outcome = sendClip("https://example.org/a/b", phoneRecord(phonePort()), fastOptions());
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  // The phone closes once it has the text; the 20-second window is not waited out.
  EXPECT_LT(Clock::now() - start, 10s);
  ASSERT_TRUE(runUntil([&] { return clips.size() == 1; }));
  EXPECT_EQ(clips[0].first, "https://example.org/a/b");
  EXPECT_EQ(wakeTokens.size(), 0u);
}

TEST_F(ClipboardSenderTest, SilentPhoneIsGivenTheReplyWindowAndThatIsSuccess) {
  std::optional<TransportMessage> got;
  const std::uint16_t port = startScriptedPhone(
      [&](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
        const DecodedFrame frame = framer.decode(co_await wire.receiveLengthPrefixed());
        got = *frame.asJSON();
        co_await testing::readUntilClosed(wire);
      });
  OneOffOptions options = fastOptions();
  options.replyWindow = 300ms;
  const auto start = Clock::now();
  const auto outcome = sendClip("hello", phoneRecord(port), options);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_GE(Clock::now() - start, 300ms);
  EXPECT_EQ(got, (TransportMessage{msg::Clipboard{"hello", "text/plain"}}));
}

TEST_F(ClipboardSenderTest, PhoneThatForgotThisComputerAnswersUnpair) {
  startPhone();
  receiver->setRemovedPeerPubkeys([this] { return std::vector{computerKey.publicKey()}; });
  const auto outcome = sendClip("hello", phoneRecord(phonePort()), fastOptions());
  ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
  EXPECT_EQ(outcome.sendError()->kind(), SendError::Kind::peerRemoved);
  EXPECT_EQ(outcome.failureText(), "the phone removed this computer. Pair again to send to it.");
  ASSERT_TRUE(runUntil([&] { return syncs.size() == 1; }));
  EXPECT_TRUE(std::holds_alternative<outcome::UnpairReplied>(syncs[0]));
  EXPECT_EQ(clips.size(), 0u);
}

TEST_F(ClipboardSenderTest, UnwrittenMessageIsANetworkErrorUnlessThePhoneSaidUnpair) {
  struct Case {
    std::string name;
    bool sayUnpair;
    SendError::Kind expected;
  };
  for (const Case& c : {Case{"reset alone", false, SendError::Kind::network},
                        Case{"Unpair, then reset", true, SendError::Kind::peerRemoved}}) {
    SCOPED_TRACE(c.name);
    const std::uint16_t port = startScriptedPhone(
        [&](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
          if (c.sayUnpair) {
            const TransportMessage unpair = msg::Unpair{};
            Bytes frame = framer.encodeJSON(unpair);
            co_await wire.sendLengthPrefixed(frame);
          }
          testing::resetConnection(wire);  // without reading the message
        });
    const auto outcome = sendClip(kHugeText, phoneRecord(port), fastOptions());
    ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
    EXPECT_EQ(outcome.sendError()->kind(), c.expected) << outcome.failureText();
    if (c.expected == SendError::Kind::network) {
      EXPECT_EQ(outcome.sendError()->detail().rfind("wire I/O error: ", 0), 0u)
          << outcome.failureText();
    }
  }
}

TEST_F(ClipboardSenderTest, PhoneWithAnotherKeyGetsNoMessage) {
  startPhone(0, crypto::X25519PrivateKey::generate());
  const auto outcome = sendClip("secret", phoneRecord(phonePort()), fastOptions());
  ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
  EXPECT_EQ(outcome.sendError()->kind(), SendError::Kind::unauthorizedPeer);
  ASSERT_TRUE(runUntil([&] { return phoneErrors.size() == 1; }));
  EXPECT_EQ(clips.size(), 0u);
}

TEST_F(ClipboardSenderTest, RefusedPhoneIsWokenAndReachedOnTheOneReconnect) {
  const std::uint16_t port = unusedPort();
  OneOffOptions options = fastOptions();
  options.wake = [&](std::string token) -> asio::awaitable<void> {
    wakeTokens.push_back(token);
    launchPhone(port);
    co_return;
  };
  PeerRecord peer = phoneRecord(port);
  peer.peer_fcm_token = "token";
  const auto outcome = sendClip("after the wake", peer, options);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_EQ(wakeTokens, std::vector<std::string>{"token"});
  ASSERT_TRUE(runUntil([&] { return clips.size() == 1; }));
  EXPECT_EQ(clips[0].first, "after the wake");
}

TEST_F(ClipboardSenderTest, ConnectFailuresThatNeedNoWakeAreReturnedAsTheyAre) {
  struct Case {
    std::string name;
    std::int64_t port;
    std::string token;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"refused, no token", unusedPort(), "", "network: Connection refused"},
      {"invalid port, token", 70000, "token", "network: invalid port 70000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeerRecord peer = phoneRecord(0);
    peer.peer_port = c.port;
    peer.peer_fcm_token = c.token;
    EXPECT_EQ(sendClip("x", peer, fastOptions()).failureText(), c.expected);
  }
  EXPECT_EQ(wakeTokens.size(), 0u);
}

}  // namespace
}  // namespace ferrytide
