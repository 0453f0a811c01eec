#include "menu/services/receiver_controller.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "core/support/base64.h"
#include "menu/service_parts.h"
#include "support/test_phone.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::processEventsUntil;
using testing::TestPhone;

// The application's receiving side, whole, with the phone on loopback in this process.
class ReceiverControllerTest : public ::testing::Test, protected testing::ReceivingParts {
 protected:
  void SetUp() override { ASSERT_TRUE(serverStarted); }

  PeerRecord pair(const TestPhone& phone, const std::string& name, std::string self = "") {
    PeerRecord peer =
        testing::phoneRecord(name, base64::encode(phone.publicKey().view()), "127.0.0.1");
    peer.self_pubkey = std::move(self);
    return AppParts::pair(peer);
  }
  bool listening() {
    return processEventsUntil(
        [&] { return appState.receiveStatus().kind == ReceiveStatus::Kind::listening && bound; });
  }
  asio::ip::tcp::endpoint endpoint() const { return {asio::ip::make_address("127.0.0.1"), bound}; }
};

TEST_F(ReceiverControllerTest, StartsOnlyWithUsablePhonesAndOnceAPhoneIsPaired) {
  TestPhone stale;
  pair(stale, "Old", "c29tZSBlYXJsaWVyIGtleSBvZiB0aGlzIGNvbXB1dGVyIQ==");
  receiver.start();
  EXPECT_EQ(appState.receiveStatus(),
            ReceiveStatus::error(QStringLiteral("no usable peers (re-pair phones)")));
  EXPECT_FALSE(receiver.running());

  TestPhone phone;
  pair(phone, "Pixel");  // the new phone starts the receiver without being asked
  ASSERT_TRUE(listening());
  receiver.start();
  EXPECT_TRUE(receiver.running());
  EXPECT_EQ(
      phoneDoes([&]() -> asio::awaitable<void> { co_await phone.connectAndHandshake(endpoint()); }),
      std::nullopt);
  EXPECT_NE(phoneDoes([&]() -> asio::awaitable<void> {
              TestPhone other;
              co_await other.connectAndHandshake(endpoint());
              co_await other.receive();
            }),
            std::nullopt)
      << "an unknown phone is turned away";
}

TEST_F(ReceiverControllerTest, FileAndTextBecomeStateAndAStoppedRunIsNotAnError) {
  crypto::X25519PrivateKey key = crypto::X25519PrivateKey::generate();
  TestPhone phone(key);
  TestPhone samePhoneAgain(key);
  pair(phone, "Pixel");
  receiver.start();
  ASSERT_TRUE(listening());
  Bytes content = toBytes("picture bytes");
  EXPECT_EQ(phoneDoes([&]() -> asio::awaitable<void> {
              co_await phone.connectAndHandshake(endpoint());
              msg::FileOffer offer{"IMG_1.jpg", std::int64_t(content.size()), "image/jpeg", "t1"};
              co_await phone.sendFile(offer, content);
              co_await phone.hangUp();
            }),
            std::nullopt);
  ASSERT_TRUE(processEventsUntil([&] { return appState.recentFiles().size() == 1; }));
  EXPECT_EQ(appState.recentFiles().front().peerName, u"Pixel");
  EXPECT_EQ(appState.recentFiles().front().url, dir / "inbox" / "IMG_1.jpg");
  ASSERT_TRUE(processEventsUntil([&] { return !server.calls().empty(); }));
  EXPECT_EQ(server.calls().front().summary, u"IMG_1.jpg from Pixel");

  EXPECT_EQ(phoneDoes([&]() -> asio::awaitable<void> {
              co_await samePhoneAgain.connectAndHandshake(endpoint());
              msg::Clipboard clip{"hello", "text/plain"};
              co_await samePhoneAgain.send(clip);
              co_await samePhoneAgain.hangUp();
            }),
            std::nullopt);
  ASSERT_TRUE(processEventsUntil([&] { return history.clips().size() == 1; }));
  EXPECT_EQ(history.clips().front().peerName, u"Pixel");
  EXPECT_EQ(pasteboard.written, std::vector<std::string>{"hello"});

  // A stop, and a start before the old run has ended: only the new run counts.
  receiver.stop();
  receiver.start();
  EXPECT_EQ(appState.receiveStatus().kind, ReceiveStatus::Kind::listening);
  EXPECT_EQ(receiver.runsInFlight(), 2);
  ASSERT_TRUE(processEventsUntil([&] { return receiver.runsInFlight() == 1; }));
  EXPECT_EQ(appState.receiveStatus().kind, ReceiveStatus::Kind::listening);
  EXPECT_EQ(appState.lastError(), std::nullopt);
  receiver.stop();
  ASSERT_TRUE(processEventsUntil([&] { return receiver.runsInFlight() == 0; }));
  EXPECT_EQ(appState.receiveStatus(), ReceiveStatus::stopped());
  EXPECT_EQ(appState.lastError(), std::nullopt);
}

TEST_F(ReceiverControllerTest, DeclinedOfferWritesNothingAndAForgottenPhoneIsRefused) {
  prefs.setAskBeforeReceiving(true);
  crypto::X25519PrivateKey key = crypto::X25519PrivateKey::generate();
  TestPhone phone(key);
  TestPhone samePhoneAgain(key);
  PeerRecord peer = pair(phone, "Pixel");
  receiver.start();
  ASSERT_TRUE(listening());
  std::optional<msg::Resume> answer;
  bool done = false;
  auto offerFile = [&]() -> asio::awaitable<void> {
    co_await phone.connectAndHandshake(endpoint());
    msg::FileOffer offer{"secret.pdf", 10, "application/pdf", "t2"};
    answer = co_await phone.offer(offer);
  };
  runtime.start(
      &owner, offerFile(), [&] { done = true; }, [&](std::exception_ptr) { done = true; });
  ASSERT_TRUE(processEventsUntil([&] { return !server.calls().empty(); }));
  EXPECT_EQ(server.calls().front().summary, u"Pixel wants to send");
  server.click(server.calls().front().id, QStringLiteral("decline"));
  ASSERT_TRUE(processEventsUntil([&] { return done; }));
  EXPECT_FALSE(answer.has_value()) << "a declined offer gets no Resume";
  EXPECT_TRUE(!std::filesystem::exists(dir / "inbox") || std::filesystem::is_empty(dir / "inbox"));

  appState.forget(peer, false);
  EXPECT_NE(phoneDoes([&]() -> asio::awaitable<void> {
              co_await samePhoneAgain.connectAndHandshake(endpoint());
              co_await samePhoneAgain.receive();
            }),
            std::nullopt);
}

// A newer start of the application binds while the copy it replaced still holds the port.
TEST_F(ReceiverControllerTest, BindingWaitsForAHeldPortAndGivesUpAfterItsAttempts) {
  TestPhone phone;
  pair(phone, "Pixel");
  asio::io_context io;
  asio::ip::tcp::acceptor holder(io, endpoint());
  ReceiverControllerOptions held = receiverOptions();
  held.port = holder.local_endpoint().port();
  held.bindRetryPause = 20ms;
  auto makeController = [&](int attempts) {
    held.bindAttempts = attempts;
    return std::make_unique<ReceiverController>(
        appState, runtime, ReceiverController::Services{approval, notifier, clipboard, sync}, held);
  };

  std::unique_ptr<ReceiverController> patient = makeController(50);
  std::uint16_t patientPort = 0;
  QObject::connect(patient.get(), &ReceiverController::listening,
                   [&](std::uint16_t on) { patientPort = on; });
  patient->start();
  QTimer::singleShot(150ms, [&] { holder.close(); });
  EXPECT_TRUE(processEventsUntil([&] { return patientPort == held.port; }));
  EXPECT_FALSE(appState.lastError().has_value());

  // Now the first one holds it for good.
  std::unique_ptr<ReceiverController> brief = makeController(3);
  brief->start();
  EXPECT_TRUE(processEventsUntil([&] { return appState.lastError().has_value(); }));
  EXPECT_TRUE(appState.lastError()->contains(QStringLiteral("in use")))
      << appState.lastError()->toStdString();
  EXPECT_TRUE(patient->running());
}

}  // namespace
}  // namespace ferrytide::menu
