// Sending files to a phone over loopback. The real Receiver plays the phone, except where a
// test needs an answer it never gives; then a scripted phone answers after the handshake.

#include "core/transfer/send_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "core/support/base64.h"
#include "core/support/json.h"
#include "support/mock_http_server.h"
#include "support/receive_session.h"
#include "support/rsa_test_key.h"
#include "support/send_harness.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using testing::MockHttpServer;
using testing::patternBytes;
using testing::readFileBytes;
using testing::writeFileBytes;

constexpr std::int64_t kMiB = 1'048'576;

struct ProgressStep {
  std::int64_t bytesSent;
  std::int64_t totalBytes;
  bool operator==(const ProgressStep&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ProgressStep& step) {
  return out << step.bytesSent << "/" << step.totalBytes;
}

class RecordingProgress : public SendProgress {
 public:
  void onWaking() override { ++wakings; }
  void onProgress(std::int64_t bytesSent, std::int64_t totalBytes) override {
    steps.push_back({bytesSent, totalBytes});
  }
  int wakings = 0;
  std::vector<ProgressStep> steps;
};

// Answers yes at the given poll (1 = before the first chunk), no before it.
std::function<bool()> cancelAtPoll(int poll) {
  auto polls = std::make_shared<int>(0);
  return [polls, poll] { return ++*polls >= poll; };
}

class SendOneFileTest : public ::testing::Test, public testing::SendHarness {
 protected:
  void TearDown() override { EXPECT_EQ(scriptFailures, std::vector<std::string>{}); }

  // Loopback time-outs in milliseconds. A test that expects a wake sets its own.
  SendFileOptions fastOptions() {
    SendFileOptions options;
    options.connect.warmConnectTimeout = 500ms;
    options.connect.wakePause = 10ms;
    options.connect.postWakeConnectTimeout = 5s;
    options.connect.postWakeAttemptTimeout = 200ms;
    options.connect.postWakeRetryInterval = 10ms;
    options.handshakeTimeout = 2s;
    options.closeWait = 5s;
    options.progress = &progress;
    options.wake = [this](std::string token) -> asio::awaitable<void> {
      wakeTokens.push_back(token);
      co_return;
    };
    return options;
  }

  std::filesystem::path makeFile(const std::string& name, const Bytes& content) {
    const std::filesystem::path path = files / name;
    writeFileBytes(path, content);
    return path;
  }

  testing::TaskOutcome<SentFile> send(const std::filesystem::path& file, const PeerRecord& peer,
                                      SendFileOptions options) {
    return run(sendOneFile(file, peer, computerKey, journal, std::move(options)));
  }
  testing::TaskOutcome<SentFile> send(const std::filesystem::path& file) {
    return send(file, phoneRecord(phonePort()), fastOptions());
  }

  // Waits until the phone has seen the computer's connection end.
  void awaitPhoneError(std::size_t count = 1) {
    ASSERT_TRUE(runUntil([&] { return phoneErrors.size() >= count; }));
  }

  InFlightJournal journal{computerState / "inflight.json"};
  RecordingProgress progress;
  std::vector<std::string> wakeTokens;
};

// ---- whole files

TEST_F(SendOneFileTest, SendsFileInMegabyteFramesAndForgetsIt) {
  startPhone();
  const Bytes content = patternBytes(2 * kMiB + kMiB / 2, 3);
  const auto path = makeFile("report.pdf", content);

  const auto outcome = send(path);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  const std::int64_t size = static_cast<std::int64_t>(content.size());
  EXPECT_EQ(outcome.value->savedPath, path.string());
  EXPECT_EQ(outcome.value->bytesSent, size);
  EXPECT_EQ(outcome.value->advertisedSize, size);
  EXPECT_EQ(outcome.value->resumedFromOffset, 0);
  EXPECT_GE(outcome.value->durationSeconds, 0.0);
  EXPECT_EQ(progress.steps,
            (std::vector<ProgressStep>{{0, size}, {kMiB, size}, {2 * kMiB, size}, {size, size}}));
  EXPECT_EQ(journal.snapshotEntries().size(), 0u);

  ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].mime, "application/pdf");
  EXPECT_EQ(readFileBytes(phoneDownloads / "report.pdf"), content);
  EXPECT_EQ(wakeTokens.size(), 0u);
}

TEST_F(SendOneFileTest, EmptyFileIsAnOfferAndDone) {
  startPhone();
  const auto path = makeFile("empty.txt", {});

  const auto outcome = send(path);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_EQ(outcome.value->bytesSent, 0);
  EXPECT_EQ(outcome.value->advertisedSize, 0);
  EXPECT_EQ(progress.steps, (std::vector<ProgressStep>{{0, 0}}));
  ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].bytesWritten, 0);
  EXPECT_EQ(readFileBytes(phoneDownloads / "empty.txt"), Bytes{});
}

// ---- interrupted and resumed

TEST_F(SendOneFileTest, CancelKeepsTheJournalAndTheNextSendResumesWithTheMissingPart) {
  startPhone();
  const Bytes content = patternBytes(5 * kMiB + 123, 4);
  const std::int64_t size = static_cast<std::int64_t>(content.size());
  const auto path = makeFile("video.mp4", content);

  SendFileOptions cancelling = fastOptions();
  cancelling.cancel = cancelAtPoll(3);  // after two chunks
  const auto first = send(path, phoneRecord(phonePort()), cancelling);
  ASSERT_TRUE(first.sendError()) << first.failureText();
  EXPECT_EQ(first.sendError()->kind(), SendError::Kind::cancelled);
  EXPECT_EQ(first.failureText(), "cancelled by user");
  const auto entries = journal.snapshotEntries();
  ASSERT_EQ(entries.size(), 1u);
  awaitPhoneError();  // the phone keeps its partial copy

  progress.steps.clear();
  const auto second = send(path);
  ASSERT_TRUE(second.value) << second.failureText();
  EXPECT_EQ(second.value->resumedFromOffset, 2 * kMiB);
  EXPECT_EQ(second.value->bytesSent, size);
  EXPECT_EQ(progress.steps.front(), (ProgressStep{2 * kMiB, size}));
  EXPECT_EQ(progress.steps.size(), 5u);  // the Resume, then chunks 3, 4, 5 and the rest

  ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
  // The phone resumed the same transfer: only the missing part crossed the wire again.
  EXPECT_EQ(received[0].resumedFromOffset, 2 * kMiB);
  EXPECT_EQ(received[0].bytesReceivedThisSession, size - 2 * kMiB);
  EXPECT_EQ(readFileBytes(phoneDownloads / "video.mp4"), content);
  EXPECT_EQ(journal.snapshotEntries().size(), 0u);
}

TEST_F(SendOneFileTest, UnchangedFileKeepsItsTransferIdUntilSent) {
  const Bytes content = patternBytes(1000, 5);
  const auto path = makeFile("notes.txt", content);
  const std::uint16_t port = unusedPort();  // nothing listens: every attempt fails

  ASSERT_TRUE(send(path, phoneRecord(port), fastOptions()).failure);
  const auto afterFirst = journal.snapshotEntries();
  ASSERT_TRUE(send(path, phoneRecord(port), fastOptions()).failure);
  EXPECT_EQ(journal.snapshotEntries(), afterFirst);

  // The offers the phone sees carry that identifier, and a completed send forgets it.
  std::vector<std::string> offered;
  const std::uint16_t scripted = startScriptedPhone(
      [&](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
        const DecodedFrame frame = framer.decode(co_await wire.receiveLengthPrefixed());
        const auto& offer = std::get<msg::FileOffer>(*frame.asJSON());
        offered.push_back(offer.transfer_id);
        const TransportMessage resume = msg::Resume{offer.transfer_id, offer.size};
        Bytes reply = framer.encodeJSON(resume);
        co_await wire.sendLengthPrefixed(reply);
        co_await testing::readUntilClosed(wire);
      });
  SendFileOptions options = fastOptions();
  options.closeWait = 100ms;
  const auto sent = send(path, phoneRecord(scripted), options);
  ASSERT_TRUE(sent.value) << sent.failureText();
  EXPECT_EQ(offered, std::vector<std::string>{afterFirst.begin()->second});
  EXPECT_EQ(journal.snapshotEntries().size(), 0u);
}

TEST_F(SendOneFileTest, OffsetAtTheEndSendsOnlyDone) {
  startPhone();
  const Bytes content = patternBytes(3 * kMiB, 6);
  const std::int64_t size = static_cast<std::int64_t>(content.size());
  const auto path = makeFile("disk.img", content);

  SendFileOptions cancelling = fastOptions();
  cancelling.cancel = cancelAtPoll(4);  // every chunk went out, Done did not
  ASSERT_EQ(send(path, phoneRecord(phonePort()), cancelling).failureText(), "cancelled by user");
  awaitPhoneError();

  progress.steps.clear();
  const auto outcome = send(path);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_EQ(outcome.value->resumedFromOffset, size);
  EXPECT_EQ(outcome.value->bytesSent, size);
  EXPECT_EQ(progress.steps, (std::vector<ProgressStep>{{size, size}}));
  ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].bytesReceivedThisSession, 0);
  EXPECT_EQ(readFileBytes(phoneDownloads / "disk.img"), content);
}

TEST_F(SendOneFileTest, FileThatShrinksWhileSendingFailsAndStaysInTheJournal) {
  startPhone();
  const auto path = makeFile("growing.log", patternBytes(3 * kMiB, 7));
  SendFileOptions options = fastOptions();
  int polls = 0;
  options.cancel = [&] {
    if (++polls == 2) std::filesystem::resize_file(path, kMiB + 10);
    return false;
  };
  const auto outcome = send(path, phoneRecord(phonePort()), options);
  EXPECT_EQ(outcome.failureText(), "file read: the file ended at 1048586 of 3145728 bytes");
  EXPECT_EQ(journal.snapshotEntries().size(), 1u);
}

// ---- the phone's answer to the offer

TEST_F(SendOneFileTest, PhoneAnswersThatEndTheSend) {
  struct Case {
    std::string name;
    std::function<DecodedFrame(const msg::FileOffer&)> answer;
    std::string expected;  // "<id>" stands for the offer's transfer_id
  };
  const auto json = [](TransportMessage message) { return DecodedFrame::json(std::move(message)); };
  const std::string malformed = "malformed Resume: ";
  const std::vector<Case> cases = {
      {"offset above the size",
       [&](const msg::FileOffer& o) { return json(msg::Resume{o.transfer_id, o.size + 1}); },
       malformed + "accepted_offset out of range: 11/10"},
      {"negative offset",
       [&](const msg::FileOffer& o) { return json(msg::Resume{o.transfer_id, -1}); },
       malformed + "accepted_offset out of range: -1/10"},
      {"another transfer", [&](const msg::FileOffer&) { return json(msg::Resume{"OTHER", 0}); },
       malformed + "transfer_id mismatch (got OTHER, want <id>)"},
      {"Done", [&](const msg::FileOffer&) { return json(msg::Done{}); },
       R"(unexpected frame: expected Resume, got {"type":"Done"})"},
      {"binary", [](const msg::FileOffer&) { return DecodedFrame::binary({1, 2, 3}); },
       "unexpected frame: expected Resume, got binary frame of 3 bytes"},
  };
  const auto path = makeFile("ten.bin", patternBytes(10, 8));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<msg::FileOffer> seen;
    const std::uint16_t port = startScriptedPhone(
        [&](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
          const DecodedFrame frame = framer.decode(co_await wire.receiveLengthPrefixed());
          seen = std::get<msg::FileOffer>(*frame.asJSON());
          const DecodedFrame answer = c.answer(*seen);
          Bytes reply = answer.asJSON() ? framer.encodeJSON(*answer.asJSON())
                                        : framer.encodeBinary(*answer.asBinary());
          co_await wire.sendLengthPrefixed(reply);
          co_await testing::readUntilClosed(wire);
        });
    const auto outcome = send(path, phoneRecord(port), fastOptions());
    ASSERT_TRUE(seen);
    std::string expected = c.expected;
    if (const auto at = expected.find("<id>"); at != std::string::npos) {
      expected.replace(at, 4, seen->transfer_id);
    }
    EXPECT_EQ(outcome.failureText(), expected);
    EXPECT_EQ(journal.snapshotEntries().size(), 1u);
  }
}

TEST_F(SendOneFileTest, DeclineAndUnpairHaveTheirOwnErrors) {
  const auto path = makeFile("photo.jpg", patternBytes(5000, 9));

  startPhone();
  receiver->setApproveOffer(
      [](std::string, std::int64_t, std::string) -> asio::awaitable<bool> { co_return false; });
  const auto declined = send(path);
  ASSERT_TRUE(declined.sendError()) << declined.failureText();
  EXPECT_EQ(declined.sendError()->kind(), SendError::Kind::declined);
  EXPECT_EQ(declined.failureText(), "the phone declined the file.");
  stopPhone();

  startPhone();
  receiver->setRemovedPeerPubkeys([this] { return std::vector{computerKey.publicKey()}; });
  const auto removed = send(path);
  ASSERT_TRUE(removed.sendError()) << removed.failureText();
  EXPECT_EQ(removed.sendError()->kind(), SendError::Kind::peerRemoved);
  EXPECT_EQ(removed.failureText(), "the phone removed this computer. Pair again to send to it.");

  EXPECT_EQ(journal.snapshotEntries().size(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(phoneDownloads.path()));
}

TEST_F(SendOneFileTest, UnpairBeforeTheOfferArrivesOutranksTheBrokenConnection) {
  // The phone says Unpair and resets at once; the offer may or may not have been written.
  const std::uint16_t port = startScriptedPhone(
      [](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
        const TransportMessage unpair = msg::Unpair{};
        Bytes frame = framer.encodeJSON(unpair);
        co_await wire.sendLengthPrefixed(frame);
        testing::resetConnection(wire);
      });
  const auto outcome =
      send(makeFile("photo.jpg", patternBytes(5000, 9)), phoneRecord(port), fastOptions());
  EXPECT_EQ(outcome.failureText(), "the phone removed this computer. Pair again to send to it.");
}

TEST_F(SendOneFileTest, PhoneWithAnotherKeyGetsNoOffer) {
  startPhone(0, crypto::X25519PrivateKey::generate());
  const auto outcome = send(makeFile("secret.txt", toBytes("not for strangers")));
  ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
  EXPECT_EQ(outcome.sendError()->kind(), SendError::Kind::unauthorizedPeer);
  EXPECT_EQ(outcome.failureText(), "remote pubkey \u2260 paired peer");
  awaitPhoneError();
  EXPECT_TRUE(std::filesystem::is_empty(phoneDownloads.path()));
}

// ---- before connecting

TEST_F(SendOneFileTest, BadRecordsAndFilesFailBeforeAnyWake) {
  const auto path = makeFile("a.txt", toBytes("a"));
  PeerRecord good = phoneRecord(unusedPort());
  good.peer_fcm_token = "token-1";
  struct Case {
    std::string name;
    std::function<void(PeerRecord&)> change;
    std::filesystem::path file;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"key not Base64", [](PeerRecord& p) { p.peer_pubkey = "not base64!"; }, path,
       "remote pubkey \u2260 paired peer"},
      {"key of 31 bytes", [](PeerRecord& p) { p.peer_pubkey = base64::encode(Bytes(31, 1)); }, path,
       "remote pubkey \u2260 paired peer"},
      {"port above 16 bits", [](PeerRecord& p) { p.peer_port = 70000; }, path,
       "network: invalid port 70000"},
      {"negative port", [](PeerRecord& p) { p.peer_port = -1; }, path, "network: invalid port -1"},
      {"missing file", [](PeerRecord&) {}, files / "gone.txt",
       "file missing: " + (files / "gone.txt").string()},
      {"folder", [](PeerRecord&) {}, files.path(),
       "file read: " + files.path().string() + ": not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeerRecord peer = good;
    c.change(peer);
    EXPECT_EQ(send(c.file, peer, fastOptions()).failureText(), c.expected);
  }
  EXPECT_EQ(wakeTokens.size(), 0u);
  EXPECT_EQ(progress.wakings, 0);
}

TEST_F(SendOneFileTest, RefusedPhoneWithoutTokenFailsAtOnce) {
  const auto outcome =
      send(makeFile("a.txt", toBytes("a")), phoneRecord(unusedPort()), fastOptions());
  ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
  EXPECT_EQ(outcome.sendError()->kind(), SendError::Kind::network);
  EXPECT_EQ(outcome.failureText(), "network: Connection refused");
  EXPECT_EQ(wakeTokens.size(), 0u);
}

TEST_F(SendOneFileTest, StalledHandshakeIsGivenUp) {
  asio::ip::tcp::acceptor silent(io, {asio::ip::address_v4::loopback(), 0});
  SendFileOptions options = fastOptions();
  options.handshakeTimeout = 100ms;
  const auto outcome =
      send(makeFile("a.txt", toBytes("a")), phoneRecord(silent.local_endpoint().port()), options);
  EXPECT_EQ(outcome.failureText(), "noise handshake: wire I/O error: Connection timed out");
}

// ---- waking the phone through FCM

// The two Google endpoints on a local server; the send endpoint starts the phone's receiver on
// the port the computer keeps trying, as a woken phone does.
class FakeFcm {
 public:
  explicit FakeFcm(std::function<MockHttpServer::Reply()> onSend)
      : onSend_(std::move(onSend)),
        server_([this](const MockHttpServer::Request& request) { return answer(request); }) {}

  std::string serviceAccountJson() const {
    json::Value account = json::Value::object();
    account["project_id"] = "ferrytide-test";
    account["private_key"] = testing::RsaTestKey::shared().pkcs8Pem;
    account["private_key_id"] = "key-1";
    account["client_email"] = "wake@ferrytide-test.iam.gserviceaccount.com";
    account["token_uri"] = server_.baseUrl() + "/token";
    return json::encodeCompact(account);
  }
  std::string baseUrl() const { return server_.baseUrl(); }
  std::vector<MockHttpServer::Request> sends() const {
    return server_.requestsTo("/v1/projects/ferrytide-test/messages:send");
  }

 private:
  MockHttpServer::Reply answer(const MockHttpServer::Request& request) {
    if (request.target == "/token") {
      return {200, R"({"access_token":"ya29.test","expires_in":3600,"token_type":"Bearer"})"};
    }
    return onSend_();
  }

  std::function<MockHttpServer::Reply()> onSend_;
  MockHttpServer server_;  // last: its thread stops first
};

class SendWakeTest : public SendOneFileTest {
 protected:
  SendFileOptions wakingOptions(const FakeFcm& fcm) {
    const auto accountFile = computerState / "firebase-service-account.json";
    writeFileBytes(accountFile, toBytes(fcm.serviceAccountJson()));
    FcmWake::Options fcmOptions;
    fcmOptions.sendEndpoint = fcm.baseUrl();
    SendFileOptions options = fastOptions();
    options.wake = fcmWakePhone(accountFile, http, fcmOptions);
    return options;
  }

  HttpClient http;
};

TEST_F(SendWakeTest, RefusedPhoneIsWokenAndTheFileArrives) {
  const std::uint16_t port = unusedPort();
  FakeFcm fcm([&] {
    // On the server's thread: the phone opens its listener on the io_context.
    asio::post(io, [this, port] { launchPhone(port); });
    return MockHttpServer::Reply{200, R"({"name":"projects/ferrytide-test/messages/1"})"};
  });
  PeerRecord peer = phoneRecord(port);
  peer.peer_fcm_token = "fcm-token-of-the-phone";
  const Bytes content = patternBytes(kMiB + 7, 10);

  const auto outcome = send(makeFile("wake.bin", content), peer, wakingOptions(fcm));
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_EQ(progress.wakings, 1);
  const auto sends = fcm.sends();
  ASSERT_EQ(sends.size(), 1u);
  const json::Value body = json::parse(sends[0].body);
  EXPECT_EQ(body["message"]["token"], "fcm-token-of-the-phone");
  ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(readFileBytes(phoneDownloads / "wake.bin"), content);
}

TEST_F(SendWakeTest, FailedWakeEndsTheSend) {
  FakeFcm fcm([] { return MockHttpServer::Reply{404, R"({"error":"not found"})"}; });
  PeerRecord peer = phoneRecord(unusedPort());
  peer.peer_fcm_token = "stale-token";

  const auto outcome = send(makeFile("a.txt", toBytes("a")), peer, wakingOptions(fcm));
  EXPECT_EQ(outcome.failureText(),
            R"(network: FCM wake failed: FCM HTTP 404: {"error":"not found"})");
  EXPECT_EQ(progress.wakings, 0);
  EXPECT_EQ(fcm.sends().size(), 1u);
}

TEST_F(SendWakeTest, PhoneThatStaysAwayFailsWithTheLastConnectError) {
  PeerRecord peer = phoneRecord(unusedPort());
  peer.peer_fcm_token = "token";
  SendFileOptions options = fastOptions();
  options.connect.postWakeConnectTimeout = 100ms;
  const auto outcome = send(makeFile("a.txt", toBytes("a")), peer, options);
  EXPECT_EQ(outcome.failureText(), "network: Connection refused");
  EXPECT_EQ(wakeTokens, std::vector<std::string>{"token"});
  EXPECT_EQ(progress.wakings, 1);
}

// ---- after Done

// A phone that takes the whole file, then ends the connection by `close`.
testing::PhoneReplyScript phoneThatTakesTheFile(std::function<void(WireConnection&)> close,
                                                std::int64_t& bytes) {
  return [close, &bytes](WireConnection& wire, TransportFramer& framer) -> asio::awaitable<void> {
    DecodedFrame first = framer.decode(co_await wire.receiveLengthPrefixed());
    const auto offer = std::get<msg::FileOffer>(*first.asJSON());
    const TransportMessage resume = msg::Resume{offer.transfer_id, 0};
    Bytes reply = framer.encodeJSON(resume);
    co_await wire.sendLengthPrefixed(reply);
    for (;;) {
      DecodedFrame frame = framer.decode(co_await wire.receiveLengthPrefixed());
      if (const Bytes* chunk = frame.asBinary()) {
        bytes += static_cast<std::int64_t>(chunk->size());
        continue;
      }
      if (std::holds_alternative<msg::Done>(*frame.asJSON())) break;
    }
    close(wire);
    co_await testing::readUntilClosed(wire);
  };
}

TEST_F(SendOneFileTest, ResetAfterDoneFailsAndKeepsTheJournal) {
  std::int64_t bytes = 0;
  const std::uint16_t port =
      startScriptedPhone(phoneThatTakesTheFile(testing::resetConnection, bytes));
  const auto outcome =
      send(makeFile("lost.bin", patternBytes(kMiB + 1, 11)), phoneRecord(port), fastOptions());
  EXPECT_EQ(bytes, kMiB + 1);
  ASSERT_TRUE(outcome.sendError()) << outcome.failureText();
  EXPECT_EQ(outcome.sendError()->kind(), SendError::Kind::network);
  EXPECT_EQ(outcome.failureText(), "network: connection lost after Done: Connection reset by peer");
  EXPECT_EQ(journal.snapshotEntries().size(), 1u);
}

TEST_F(SendOneFileTest, SilenceAfterDoneCountsAsDelivered) {
  std::int64_t bytes = 0;
  auto holdOpen = [](WireConnection&) {};  // the phone neither closes nor answers
  const std::uint16_t port = startScriptedPhone(phoneThatTakesTheFile(holdOpen, bytes));
  SendFileOptions options = fastOptions();
  options.closeWait = 100ms;
  const auto outcome =
      send(makeFile("quiet.bin", patternBytes(100, 12)), phoneRecord(port), options);
  ASSERT_TRUE(outcome.value) << outcome.failureText();
  EXPECT_EQ(bytes, 100);
  EXPECT_EQ(journal.snapshotEntries().size(), 0u);
}

}  // namespace
}  // namespace ferrytide
