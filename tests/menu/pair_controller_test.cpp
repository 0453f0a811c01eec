#include "menu/controllers/pair_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/experimental/as_tuple.hpp>
#include <nlohmann/json.hpp>

#include "core/peers/pair_code.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"
#include "core/peers/qr_renderer.h"
#include "menu/service_parts.h"
#include "plinth_reports/diary.h"
#include "support/test_phone.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using testing::processEventsUntil;
using testing::TestPhone;
using Kind = PairPhase::Kind;

const asio::ip::address kLoopback = asio::ip::make_address("127.0.0.1");

// What a phone reads from the QR code on the screen.
PairingPayload scan(const QImage& qr) {
  QImage rgba = qr.convertToFormat(QImage::Format_RGBA8888);
  QRRenderer::Bitmap bitmap{
      .width = std::size_t(rgba.width()),
      .height = std::size_t(rgba.height()),
      .bytesPerRow = std::size_t(rgba.bytesPerLine()),
      .pixels = Bytes(rgba.constBits(), rgba.constBits() + rgba.sizeInBytes())};
  return PairingPayload::decode(asBytes(QRRenderer::decode(bitmap)));
}

std::string txt(const PairAdvert& advert, const std::string& key) {
  auto entry = std::find_if(advert.txt.begin(), advert.txt.end(),
                            [&](const auto& item) { return item.first == key; });
  return entry == advert.txt.end() ? std::string() : entry->second;
}

// The phone's side of a pairing: connects (the listener may still be waiting for the port)
// and sends its introduction sealed under `secret`.
asio::awaitable<void> introduce(std::uint16_t port, Bytes secret, std::string plaintext) {
  auto executor = co_await asio::this_coro::executor;
  tcp::socket socket(executor);
  for (int attempt = 1;; ++attempt) {
    auto [error] = co_await socket.async_connect({kLoopback, port},
                                                 asio::experimental::as_tuple(asio::use_awaitable));
    if (!error) break;
    if (attempt == 500) throw std::system_error(error);
    socket.close();
    asio::steady_timer pause(executor, 10ms);
    co_await pause.async_wait(asio::use_awaitable);
  }
  Bytes frame = PairWire::encodeFrame(
      PairCrypto::sealIntroduction(asBytes(plaintext), PairCrypto::deriveAEADKey(secret)));
  co_await asio::async_write(socket, asio::buffer(frame), asio::use_awaitable);
}

// The pairing and the application's receiver on one loopback port, as the application wires
// them; a phone paired earlier keeps the receiver listening.
class PairControllerTest : public ::testing::Test, protected testing::ReceivingParts {
 protected:
  PairControllerTest() : ReceivingParts(testing::freeLoopbackPort()) {}
  void SetUp() override {
    ASSERT_TRUE(serverStarted);
    prefs.setDeviceName(QStringLiteral("Studio"));
    appState.requestStopReceiver = [this] { receiver.stop(); };
    appState.requestStartReceiver = [this] { receiver.start(); };
    pair(testing::phoneRecord("Tablet", base64::encode(tablet.publicKey().view()), "127.0.0.2"));
    ASSERT_TRUE(listenedTimes(1));
  }

  PairControllerOptions options(std::chrono::milliseconds timeout = 10s) {
    return {.port = port,
            .keyVault = KeyVault(dir / "data"),
            .deviceInfo =
                [] {
                  return DeviceInfo{"lo", "127.0.0.1", "127.0.0.0/8", "00:00:00:00:00:00", "host"};
                },
            .qrImageFile = dir / "qr.png",
            .listenAddress = kLoopback,
            .listenerTimeout = timeout,
            .listenerRetryPause = 5ms,
            .publishAdvert = false,
            .diary = &diary};
  }
  bool listenedTimes(int times) {
    return processEventsUntil([&] {
      return listenings == times && appState.receiveStatus().kind == ReceiveStatus::Kind::listening;
    });
  }
  bool reaches(const PairController& pair, Kind kind) {
    return processEventsUntil([&] { return pair.phase().kind == kind; });
  }
  static std::string introduction(const TestPhone& phone) {
    return nlohmann::json{{"peer_android", "Android 14"},
                          {"peer_fcm_token", "token-1"},
                          {"peer_hostname", "Pixel"},
                          {"peer_ip", "127.0.0.1"},
                          {"peer_pubkey", base64::encode(phone.publicKey().view())},
                          {"peer_subnet", "127.0.0.0/8"}}
        .dump();
  }

  plinth::Diary diary{dir / "reports"};
  TestPhone tablet;
};

TEST_F(PairControllerTest, TimedOutPairingRestartsTheReceiver) {
  PairController pair(appState, runtime, options(150ms));
  pair.startPairing();
  ASSERT_EQ(pair.phase().kind, Kind::awaiting) << pair.phase().message.toStdString();
  EXPECT_EQ(appState.receiveStatus(), ReceiveStatus::stopped());
  EXPECT_EQ(pair.phase().info.hostname, u"Studio");
  PairingPayload shown = scan(pair.phase().qr);
  EXPECT_EQ(shown.peer_port, port);
  EXPECT_EQ(shown.peer_hostname, "Studio");
  EXPECT_EQ(shown.peer_pubkey,
            base64::encode(KeyVault(dir / "data").loadOrCreate().publicKey().view()));

  ASSERT_TRUE(reaches(pair, Kind::failed));
  EXPECT_EQ(pair.phase().message, u"pair-mode timeout");
  EXPECT_TRUE(listenedTimes(2));
  EXPECT_NE(diary.errorLog().find("error Pairing failed: pair-mode timeout"), std::string::npos);
  pair.reset();
  EXPECT_EQ(pair.phase(), PairPhase::idle());
}

TEST_F(PairControllerTest, ConfirmedPhoneReplacesItsStaleRecordAndIsReceivedFrom) {
  PeerRecord stale = testing::phoneRecord("Pixel", testing::kKeyA, "127.0.0.1");
  appState.store().upsert(stale);
  prefs.setDisplayName(QStringLiteral("Anna's phone"), QString::fromStdString(stale.peer_pubkey));
  TestPhone phone;
  std::string phoneKey = base64::encode(phone.publicKey().view());
  // Forgotten here once, with its notice still undelivered, and now paired again.
  prefs.storeValue(Preferences::Keys::pendingUnpairs,
                   QVariantMap{{QString::fromStdString(phoneKey), QByteArray("{}")}});

  PairController pair(appState, runtime, options());
  pair.startPairing();
  ASSERT_EQ(pair.phase().kind, Kind::awaiting) << pair.phase().message.toStdString();
  PairingPayload scanned = scan(pair.phase().qr);
  Bytes secret = *base64::decode(scanned.pairing_secret);
  std::string intro = introduction(phone);  // without "peer_port"
  EXPECT_EQ(phoneDoes([&] { return introduce(std::uint16_t(scanned.peer_port), secret, intro); }),
            std::nullopt);
  ASSERT_TRUE(reaches(pair, Kind::confirm)) << pair.phase().message.toStdString();
  EXPECT_EQ(pair.phase().code.toStdString(),
            PairCrypto::confirmationCode(secret, *base64::decode(scanned.peer_pubkey),
                                         phone.publicKey().view(), asBytes(intro)));
  EXPECT_EQ(appState.receiveStatus(), ReceiveStatus::stopped()) << "not before the user confirms";

  pair.confirmMatches();
  EXPECT_EQ(pair.phase(), PairPhase::saved(QStringLiteral("Pixel")));
  std::vector<PeerRecord> book = appState.store().loadBook().peers;
  ASSERT_EQ(book.size(), 2u) << "the stale record is gone";
  PeerRecord expected = testing::phoneRecord("Pixel", phoneKey, "127.0.0.1",
                                             book[1].paired_at_epoch_ms, "Android 14");
  expected.peer_port = port;
  expected.peer_subnet = "127.0.0.0/8";
  expected.self_pubkey = scanned.peer_pubkey;
  expected.peer_fcm_token = "token-1";
  EXPECT_EQ(book[1], expected);
  EXPECT_FALSE(prefs.displayNames().contains(QString::fromStdString(stale.peer_pubkey)));
  EXPECT_TRUE(prefs.pendingUnpairs().empty());
  EXPECT_EQ(appState.peers().size(), 2u);
  EXPECT_EQ(diary.steps(),
            (std::vector<std::string>{"Started pairing", "A phone answered the pairing code",
                                      "Paired a phone"}));

  ASSERT_TRUE(listenedTimes(2));
  EXPECT_EQ(phoneDoes([&]() -> asio::awaitable<void> {
              co_await phone.connectAndHandshake({kLoopback, port});
              msg::Clipboard clip{"hello", "text/plain"};
              co_await phone.send(clip);
              co_await phone.hangUp();
            }),
            std::nullopt);
  EXPECT_TRUE(processEventsUntil([&] { return history.clips().size() == 1; }))
      << "the receiver takes the new phone";
}

TEST_F(PairControllerTest, CancelWrongSecretAndMismatchRestartTheReceiverAndStoreNothing) {
  PairController pair(appState, runtime, options());
  pair.startPairing();
  ASSERT_EQ(pair.phase().kind, Kind::awaiting) << pair.phase().message.toStdString();
  pair.cancel();
  EXPECT_EQ(pair.phase(), PairPhase::idle());
  ASSERT_TRUE(listenedTimes(2)) << "the port is taken back from the cancelled listener";

  // A phone that typed the code finds the pairing by its advert.
  TestPhone phone;
  auto typedCodePhone = [&](bool rightSecret) {
    const PairAdvert& advert = *pair.advert();
    EXPECT_EQ(txt(advert, "c"), PairCode::hash(pair.shortCode().toStdString(), txt(advert, "pk")));
    Bytes secret = rightSecret ? *base64::decode(txt(advert, "sec")) : Bytes(32, 7);
    return phoneDoes([&] { return introduce(advert.port, secret, introduction(phone)); });
  };
  pair.startPairing();
  ASSERT_EQ(pair.phase().kind, Kind::awaiting);
  EXPECT_EQ(typedCodePhone(false), std::nullopt);
  ASSERT_TRUE(reaches(pair, Kind::failed));
  EXPECT_TRUE(pair.phase().message.startsWith(u"decrypt failed: "))
      << pair.phase().message.toStdString();
  ASSERT_TRUE(listenedTimes(3));

  pair.startPairing();
  ASSERT_EQ(pair.phase().kind, Kind::awaiting);
  EXPECT_EQ(typedCodePhone(true), std::nullopt);
  ASSERT_TRUE(reaches(pair, Kind::confirm));
  pair.confirmMismatch();
  EXPECT_EQ(pair.phase(),
            PairPhase::failed(QStringLiteral("pairing aborted \u2014 codes did not match")));
  EXPECT_EQ(appState.store().loadBook().peers.size(), 1u);
  EXPECT_TRUE(listenedTimes(4));
}

TEST_F(PairControllerTest, StartFailuresEndInFailedWithTheReceiverRunning) {
  PairControllerOptions noNetwork = options();
  noNetwork.deviceInfo = []() -> DeviceInfo { throw DeviceInfoError::noActiveInterface(); };
  PairController offline(appState, runtime, noNetwork);
  offline.startPairing();
  EXPECT_EQ(offline.phase(),
            PairPhase::failed(QStringLiteral("init: no active non-loopback IPv4 interface")));
  EXPECT_EQ(appState.receiveStatus().kind, ReceiveStatus::Kind::listening) << "never stopped";

  // Another program holds the pairing port through every attempt.
  asio::io_context io;
  tcp::acceptor holder(io, {kLoopback, 0});
  PairControllerOptions heldPort = options();
  heldPort.port = holder.local_endpoint().port();
  heldPort.listenerRetryPause = 1ms;
  PairController pair(appState, runtime, heldPort);
  pair.startPairing();
  ASSERT_TRUE(reaches(pair, Kind::failed));
  QString expected = QStringLiteral(
                         "could not bind :%1 after 40 attempts \u2014 another process may "
                         "hold the port: listener failed to start: ")
                         .arg(heldPort.port);
  EXPECT_TRUE(pair.phase().message.startsWith(expected)) << pair.phase().message.toStdString();
  EXPECT_TRUE(listenedTimes(2));
}

}  // namespace
}  // namespace ferrytide::menu
