#include "menu/windows/welcome_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <asio/experimental/as_tuple.hpp>
#include <nlohmann/json.hpp>

#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"
#include "core/peers/qr_renderer.h"
#include "core/support/base64.h"
#include "menu/app_parts.h"
#include "menu/qt_wait.h"
#include "menu/tray/app_router.h"
#include "menu/windows/pair_options_card.h"
#include "menu/windows/qr_tile.h"
#include "plinth/plinth_test_support.h"
#include "support/failure_text.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using testing::processEventsUntil;
using Kind = PairPhase::Kind;

const asio::ip::address kLoopback = asio::ip::make_address("127.0.0.1");

std::uint16_t freePort() {
  asio::io_context io;
  return tcp::acceptor(io, {kLoopback, 0}).local_endpoint().port();
}

// What a camera reads from the widget as it is drawn on screen.
std::string scan(QWidget* widget) {
  QCoreApplication::processEvents();  // laid out as shown
  QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_RGBA8888);
  QRRenderer::Bitmap bitmap{.width = std::size_t(shown.width()),
                            .height = std::size_t(shown.height()),
                            .bytesPerRow = std::size_t(shown.bytesPerLine()),
                            .pixels = Bytes(shown.constBits(), shown.constBits() + shown.sizeInBytes())};
  return QRRenderer::decode(bitmap);
}

// The phone's side: connects (the listener may still be taking the port) and sends its
// introduction sealed under `secret`.
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

class WelcomeViewTest : public ::testing::Test, protected testing::AppParts {
 protected:
  void SetUp() override {
    prefs.setSaveFolder(QString::fromStdString((dir / "inbox").string()));
    router.showSettings = [this](std::optional<SettingsSection> section) { opened = section; };
  }

  std::unique_ptr<WelcomeView> open(bool skipIntro) {
    auto view = std::make_unique<WelcomeView>(appState, prefs, pair, skipIntro,
                                              [this] { ++finished; }, router);
    view->resize(720, 500);
    view->show();
    return view;
  }
  template <typename Widget = QWidget>
  static Widget* find(QWidget* view, const char* name) {
    auto* found = view->findChild<Widget*>(QString::fromUtf8(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static QString text(QWidget* view, const char* label) { return find<QLabel>(view, label)->text(); }
  static void click(QWidget* view, const char* button) {
    QTest::mouseClick(find<QPushButton>(view, button), Qt::LeftButton);
  }

  // Scans the code on show and answers as the phone would; the four digits the phone shows.
  std::string phoneAnswers(WelcomeView& view, bool rightSecret = true) {
    auto* card = find<PairOptionsCard>(&view, "pairOptionsCard");
    PairingPayload scanned = PairingPayload::decode(asBytes(scan(card->tile())));
    Bytes secret = rightSecret ? *base64::decode(scanned.pairing_secret) : Bytes(32, 7);
    std::string intro = nlohmann::json{{"peer_hostname", "Pixel"},
                                       {"peer_ip", "127.0.0.1"},
                                       {"peer_pubkey", base64::encode(phoneKey.view())},
                                       {"peer_subnet", "127.0.0.0/8"}}
                            .dump();
    std::optional<std::string> failure;
    runtime.start(
        &owner, introduce(std::uint16_t(scanned.peer_port), secret, intro),
        [&] { failure = ""; }, [&](std::exception_ptr error) { failure = testing::failureText(error); });
    EXPECT_TRUE(processEventsUntil([&] { return failure.has_value(); }));
    EXPECT_EQ(failure.value_or("timed out"), "");
    return PairCrypto::confirmationCode(secret, *base64::decode(scanned.peer_pubkey),
                                        phoneKey.view(), asBytes(intro));
  }
  bool shows(WelcomeView& view, WelcomeView::PairingPage page) {
    return processEventsUntil([&] { return view.pairingPage() == page; });
  }

  std::uint16_t port = freePort();
  PairController pair{appState, runtime,
                      {.port = port,
                       .keyVault = KeyVault(dir / "data"),
                       .deviceInfo =
                           [] {
                             return DeviceInfo{"lo", "127.0.0.1", "127.0.0.0/8",
                                               "00:00:00:00:00:00", "host"};
                           },
                       .qrImageFile = dir / "qr.png",
                       .listenAddress = kLoopback,
                       .listenerTimeout = 10s,
                       .listenerRetryPause = 5ms,
                       .publishAdvert = false}};
  crypto::X25519PublicKey phoneKey = crypto::X25519PrivateKey::generate().publicKey();
  AppRouter router;
  std::optional<SettingsSection> opened;
  int finished = 0;
  QObject owner;
};

TEST_F(WelcomeViewTest, WalksFromTheIntroductionToAPairedPhone) {
  auto view = open(false);
  EXPECT_EQ(view->step(), WelcomeView::introStep);
  EXPECT_EQ(pair.phase().kind, Kind::idle) << "no pairing before its step";
  click(view.get(), "getStarted");
  ASSERT_EQ(view->step(), WelcomeView::phoneAppStep);
  EXPECT_EQ(scan(find(view.get(), "phoneAppQr")), WelcomeView::phoneAppPage)
      << "readable around the logo";

  click(view.get(), "phoneAppContinue");
  ASSERT_EQ(view->step(), WelcomeView::pairingStep);
  ASSERT_EQ(pair.phase().kind, Kind::awaiting) << pair.phase().message.toStdString();
  EXPECT_EQ(view->pairingPage(), WelcomeView::PairingPage::awaiting);
  EXPECT_EQ(find(view.get(), "pairingCode")->accessibleName(),
            QStringLiteral("Pairing code ") + pair.shortCode());
  EXPECT_EQ(pair.shortCode().size(), 4);

  std::string phoneDigits = phoneAnswers(*view);
  ASSERT_TRUE(shows(*view, WelcomeView::PairingPage::confirm)) << pair.phase().message.toStdString();
  QString shown;
  for (int digit = 0; digit < 4; ++digit)
    shown += text(view.get(), QStringLiteral("confirmDigit%1").arg(digit).toUtf8().constData());
  EXPECT_EQ(shown.toStdString(), phoneDigits);
  EXPECT_EQ(text(view.get(), "confirmQuestion"), u"Pixel show the same code?");

  click(view.get(), "theyMatch");
  ASSERT_EQ(view->step(), WelcomeView::doneStep);
  EXPECT_EQ(text(view.get(), "pairedTitle"), u"Pixel is paired");
  EXPECT_EQ(text(view.get(), "saveFolderLine"),
            QStringLiteral("Files you receive land in ") + prefs.saveFolder());
  ASSERT_EQ(appState.peers().size(), 1u);
  EXPECT_EQ(appState.peers()[0].peer_pubkey, base64::encode(phoneKey.view()));

  click(view.get(), "openShortcutSettings");
  EXPECT_EQ(opened, SettingsSection::shortcuts);
  EXPECT_EQ(finished, 0);
  click(view.get(), "welcomeDone");
  EXPECT_EQ(finished, 1);
}

TEST_F(WelcomeViewTest, FailuresOfferTryAgainAndClosingEndsThePairing) {
  auto view = open(true);
  EXPECT_EQ(view->step(), WelcomeView::pairingStep) << "adding a phone starts at pairing";
  EXPECT_FALSE(find(view.get(), "pairingBack")->isVisible());
  ASSERT_EQ(pair.phase().kind, Kind::awaiting) << pair.phase().message.toStdString();

  phoneAnswers(*view);
  ASSERT_TRUE(shows(*view, WelcomeView::PairingPage::confirm));
  click(view.get(), "theyDontMatch");
  EXPECT_EQ(view->pairingPage(), WelcomeView::PairingPage::failed);
  EXPECT_EQ(text(view.get(), "failedTitle"), u"The codes didn't match");
  EXPECT_EQ(text(view.get(), "failedBody"),
            u"Nothing was saved. Start again and compare the four digits on both screens.");
  EXPECT_TRUE(appState.store().loadBook().peers.empty());

  QImage firstCode = pair.phase().qr;
  click(view.get(), "tryAgain");
  ASSERT_EQ(pair.phase().kind, Kind::awaiting);
  EXPECT_EQ(view->pairingPage(), WelcomeView::PairingPage::awaiting);
  EXPECT_NE(pair.phase().qr, firstCode) << "a new secret";
  phoneAnswers(*view, false);  // a phone that has the wrong secret
  ASSERT_TRUE(shows(*view, WelcomeView::PairingPage::failed));
  EXPECT_EQ(text(view.get(), "failedTitle"), u"Pairing didn't finish");
  EXPECT_EQ(text(view.get(), "failedBody"),
            u"Check that your phone and computer are on the same Wi-Fi, then try again.");

  click(view.get(), "tryAgain");
  ASSERT_EQ(pair.phase().kind, Kind::awaiting);
  view->hide();
  view->windowClosed();
  EXPECT_EQ(pair.phase().kind, Kind::idle) << "the port goes back to the receiver";
  view->show();
  EXPECT_EQ(pair.phase().kind, Kind::awaiting) << "opened again, it pairs again";
}

// Every state at the window's size, in light and dark palettes: nothing runs out of the view
// and no text is cut short of the lines it needs. With FERRYTIDE_PLINTH_SHOTS set, each state is
// saved as a picture.
TEST_F(WelcomeViewTest, EveryStateFitsTheWindowInBothPalettes) {
  QPalette light = QApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(36, 36, 38));
  dark.setColor(QPalette::WindowText, QColor(236, 236, 236));
  dark.setColor(QPalette::Base, QColor(28, 28, 30));
  dark.setColor(QPalette::Text, QColor(236, 236, 236));
  dark.setColor(QPalette::Button, QColor(58, 58, 60));
  dark.setColor(QPalette::ButtonText, QColor(236, 236, 236));
  PhoneIntroDecoded intro;
  intro.hostname = "Anna's Pixel 8 Pro";
  const QString suffix = QStringLiteral("@%1x").arg(qApp->devicePixelRatio());

  for (const auto& [paletteName, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
    QApplication::setPalette(palette);
    pair.cancel();
    pair.reset();
    auto view = open(false);
    auto check = [&](const QString& state) {
      QCoreApplication::processEvents();
      for (QWidget* child : view->findChildren<QWidget*>()) {
        if (!child->isVisibleTo(view.get()) || child->objectName().isEmpty()) continue;
        QRect place(child->mapTo(view.get(), QPoint(0, 0)), child->size());
        EXPECT_TRUE(view->rect().contains(place))
            << state.toStdString() << ": " << child->objectName().toStdString() << " runs out";
        if (auto* label = qobject_cast<QLabel*>(child); label && label->wordWrap()) {
          EXPECT_GE(label->height(), label->heightForWidth(label->width()))
              << state.toStdString() << ": " << label->objectName().toStdString() << " is cut";
        }
      }
      plinth::testing::shoot(view.get(), QStringLiteral("welcome-%1-%2%3")
                                             .arg(state, QString::fromUtf8(paletteName), suffix));
    };
    check(QStringLiteral("intro"));
    view->showStep(WelcomeView::phoneAppStep);
    check(QStringLiteral("phone-app"));
    view->showStep(WelcomeView::pairingStep);
    check(QStringLiteral("awaiting"));
    view->showPhase(PairPhase::confirm(pair.phase().qr, {}, QStringLiteral("4821"), intro));
    check(QStringLiteral("confirm"));
    view->showPhase(PairPhase::failed(QStringLiteral("pairing aborted \u2014 codes did not match")));
    check(QStringLiteral("failed-mismatch"));
    view->showPhase(PairPhase::failed(QStringLiteral("pair-mode timeout")));
    check(QStringLiteral("failed"));
    view->showPhase(PairPhase::saved(QString::fromStdString(intro.hostname)));
    check(QStringLiteral("done"));
  }
  QApplication::setPalette(light);
}

}  // namespace
}  // namespace ferrytide::menu
