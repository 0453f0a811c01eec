#include "menu/services/receiver_controller.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "core/support/base64.h"
#include "menu/models/app_state.h"
#include "menu/qt_wait.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/notification_approval_prompt.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"
#include "menu/services/receive_approval.h"
#include "support/fake_notification_server.h"
#include "support/fake_pasteboard.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"
#include "support/test_phone.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::processEventsUntil;
using testing::TempDir;
using testing::TestPhone;

// The application's receiving side, whole, with the phone on loopback in this process.
class ReceiverControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    prefs.setSaveFolder(QString::fromStdString((dir / "inbox").string()));
  }
  void TearDown() override { server.stop(); }

  static ReceiverControllerOptions options(const std::filesystem::path& data) {
    ReceiverControllerOptions options{.port = 0, .keyVault = KeyVault(data), .receiver = {}};
    options.receiver.listenAddress = asio::ip::make_address("127.0.0.1");
    return options;
  }
  PeerRecord pair(const TestPhone& phone, const std::string& name, std::string self = "") {
    PeerRecord peer =
        testing::phoneRecord(name, base64::encode(phone.publicKey().view()), "127.0.0.1");
    peer.self_pubkey = std::move(self);
    appState.store().upsert(peer);
    appState.reloadPeers();
    return peer;
  }
  bool listening() {
    return processEventsUntil(
        [&] { return appState.receiveStatus().kind == ReceiveStatus::Kind::listening && port; });
  }
  // Runs the phone's part on the network thread; its error, or none.
  std::optional<std::string> phoneDoes(std::function<asio::awaitable<void>()> steps) {
    std::optional<std::string> error;
    bool done = false;
    runtime.start(
        &owner, steps(), [&] { done = true; },
        [&](std::exception_ptr failure) {
          try {
            std::rethrow_exception(failure);
          } catch (const std::exception& e) {
            error = e.what();
          }
          done = true;
        });
    EXPECT_TRUE(processEventsUntil([&] { return done; }));
    return error;
  }
  asio::ip::tcp::endpoint endpoint() const { return {asio::ip::make_address("127.0.0.1"), port}; }

  TempDir dir;
  testing::FakeNotificationServer server;
  Preferences prefs{QString::fromStdString((dir / "Ferrytide.conf").string())};
  platform::DesktopNotifications notices;
  Notifier notifier{prefs, notices, platform::DesktopLauncher()};
  AppState appState{prefs,
                    {.store = PeerStore(dir / "data"),
                     .outbox = ShareOutbox(dir / "group"),
                     .recentFilesFile = dir / "recent.json"}};
  CoreRuntime runtime;
  QObject owner;
  testing::FakePasteboard pasteboard;
  ClipHistory history{dir / "data" / "clips.json"};
  OneOffNetwork network{.keyVault = KeyVault(dir / "data"), .oneOff = {}};
  ClipboardService clipboard{prefs, history, notifier, pasteboard, runtime, network};
  PeerSync sync{appState, notifier, runtime, network};
  NotificationApprovalPrompt prompt{notices};
  ReceiveApproval approval{prefs, prompt};
  ReceiverController controller{
      appState, runtime, {approval, notifier, clipboard, sync}, options(dir / "data")};
  std::uint16_t port = 0;
  QMetaObject::Connection watch = QObject::connect(&controller, &ReceiverController::listening,
                                                   [this](std::uint16_t bound) { port = bound; });
};

TEST_F(ReceiverControllerTest, StartsOnlyWithUsablePhonesAndOnceAPhoneIsPaired) {
  TestPhone stale;
  pair(stale, "Old", "c29tZSBlYXJsaWVyIGtleSBvZiB0aGlzIGNvbXB1dGVyIQ==");
  controller.start();
  EXPECT_EQ(appState.receiveStatus(),
            ReceiveStatus::error(QStringLiteral("no usable peers (re-pair phones)")));
  EXPECT_FALSE(controller.running());

  TestPhone phone;
  pair(phone, "Pixel");  // the new phone starts the receiver without being asked
  ASSERT_TRUE(listening());
  controller.start();
  EXPECT_TRUE(controller.running());
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
  controller.start();
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
  controller.stop();
  controller.start();
  EXPECT_EQ(appState.receiveStatus().kind, ReceiveStatus::Kind::listening);
  EXPECT_EQ(controller.runsInFlight(), 2);
  ASSERT_TRUE(processEventsUntil([&] { return controller.runsInFlight() == 1; }));
  EXPECT_EQ(appState.receiveStatus().kind, ReceiveStatus::Kind::listening);
  EXPECT_EQ(appState.lastError(), std::nullopt);
  controller.stop();
  ASSERT_TRUE(processEventsUntil([&] { return controller.runsInFlight() == 0; }));
  EXPECT_EQ(appState.receiveStatus(), ReceiveStatus::stopped());
  EXPECT_EQ(appState.lastError(), std::nullopt);
}

TEST_F(ReceiverControllerTest, DeclinedOfferWritesNothingAndAForgottenPhoneIsRefused) {
  prefs.setAskBeforeReceiving(true);
  crypto::X25519PrivateKey key = crypto::X25519PrivateKey::generate();
  TestPhone phone(key);
  TestPhone samePhoneAgain(key);
  PeerRecord peer = pair(phone, "Pixel");
  controller.start();
  ASSERT_TRUE(listening());
  std::optional<msg::Resume> answer;
  std::optional<std::string> failure;
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
  ReceiverControllerOptions held = options(dir / "data");
  held.port = holder.local_endpoint().port();
  held.bindRetryPause = 20ms;
  auto makeController = [&](int attempts) {
    held.bindAttempts = attempts;
    return std::make_unique<ReceiverController>(
        appState, runtime, ReceiverController::Services{approval, notifier, clipboard, sync}, held);
  };

  std::unique_ptr<ReceiverController> patient = makeController(50);
  std::uint16_t bound = 0;
  QObject::connect(patient.get(), &ReceiverController::listening,
                   [&](std::uint16_t on) { bound = on; });
  patient->start();
  QTimer::singleShot(150ms, [&] { holder.close(); });
  EXPECT_TRUE(processEventsUntil([&] { return bound == held.port; }));
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
