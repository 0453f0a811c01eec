// The whole tray application in this process, offscreen: the first start with no phone, the
// status menu and what its items open, and a file from a phone on loopback reaching the
// popover's recent files and a notice.

#include "menu/tray/menu_bar_app_delegate.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include "core/support/base64.h"
#include "menu/app_services.h"
#include "menu/popover/popover_window.h"
#include "menu/qt_wait.h"
#include "menu/tray/status_menu.h"
#include "support/child_process.h"
#include "support/fake_notification_server.h"
#include "support/test_peers.h"
#include "support/test_phone.h"

namespace ferrytide::menu {
namespace {

using testing::processEventsUntil;

class MenuBarAppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(notifications.start());
    ASSERT_TRUE(delegate.applicationDidFinishLaunching());
  }
  void TearDown() override { notifications.stop(); }

  QAction* item(const char* name) {
    return delegate.statusMenu()->findChild<QAction*>(QLatin1String(name));
  }

  // Runs the phone's part on the network thread; whether it went through.
  bool phoneDoes(const std::function<asio::awaitable<void>()>& steps) {
    bool done = false;
    bool failed = false;
    QObject owner;
    delegate.services().runtime.start(
        &owner, steps(), [&] { done = true; }, [&](std::exception_ptr) { done = failed = true; });
    EXPECT_TRUE(processEventsUntil([&] { return done; }));
    return !failed;
  }

  testing::FakeNotificationServer notifications;
  const std::uint16_t port = testing::freeLoopbackPort();
  MenuBarAppDelegate delegate{{.port = port,
                               .registerHotkeys = false,
                               .listenAddress = asio::ip::make_address("127.0.0.1"),
                               .updates = std::nullopt}};
};

TEST_F(MenuBarAppDelegateTest, FirstStartWelcomesAndTheStatusMenuOpensItsWindows) {
  ASSERT_NE(delegate.welcomeContent(), nullptr) << "no phone yet: the welcome opens";
  EXPECT_NE(delegate.statusItem()->contextMenu(), nullptr);

  QStringList texts;
  for (QAction* action : delegate.statusMenu()->actions()) texts << action->text();
  EXPECT_EQ(texts, (QStringList{u"Settings…"_qs, u"Report a Problem…"_qs, QString(),
                                u"Quit Ferrytide"_qs}));
  EXPECT_EQ(item("settingsItem")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
  EXPECT_EQ(item("quitItem")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

  item("settingsItem")->trigger();
  EXPECT_NE(delegate.settingsContent(), nullptr);
  item("reportProblemItem")->trigger();
  EXPECT_NE(delegate.reportContent(), nullptr);

  delegate.welcomeContent()->window()->close();
  EXPECT_TRUE(processEventsUntil([&] { return delegate.welcomeContent() == nullptr; }));
  EXPECT_TRUE(delegate.services().prefs.welcomeCompleted());

  QSignalSpy quitting(&delegate, &MenuBarAppDelegate::quitRequested);
  item("quitItem")->trigger();
  EXPECT_EQ(quitting.count(), 1);
}

TEST_F(MenuBarAppDelegateTest, AFileFromAPairedPhoneShowsInThePopoverAndAsANotice) {
  testing::TestPhone phone;
  AppState& appState = delegate.services().appState;
  appState.store().upsert(
      testing::phoneRecord("Pixel", base64::encode(phone.publicKey().view()), "127.0.0.1"));
  appState.reloadPeers();  // the receiver starts for the new phone
  ASSERT_TRUE(processEventsUntil(
      [&] { return appState.receiveStatus() == ReceiveStatus::listening(port); }));

  Bytes content = toBytes("harbour at dawn");
  asio::ip::tcp::endpoint computer(asio::ip::make_address("127.0.0.1"), port);
  ASSERT_TRUE(phoneDoes([&]() -> asio::awaitable<void> {
    co_await phone.connectAndHandshake(computer);
    msg::FileOffer offer{"harbour.jpg", std::int64_t(content.size()), "image/jpeg", "t1"};
    co_await phone.sendFile(offer, content);
    co_await phone.hangUp();
  }));

  delegate.togglePopover();
  PopoverWindow* popover = delegate.popover();
  ASSERT_TRUE(popover->isShown());
  ASSERT_TRUE(processEventsUntil(
      [&] { return popover->findChildren<QWidget*>(u"recentFileRow"_qs).size() == 1; }));
  auto* name = popover->findChild<QLabel*>(u"recentFileName"_qs);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), u"harbour.jpg");
  ASSERT_TRUE(processEventsUntil([&] { return !notifications.calls().empty(); }));
  EXPECT_EQ(notifications.calls().front().summary, u"harbour.jpg from Pixel");

  // Every control in the popover can be told apart by a screen reader and reached by Tab.
  for (QAbstractButton* control : popover->findChildren<QAbstractButton*>()) {
    if (!control->isVisibleTo(popover)) continue;
    EXPECT_FALSE(control->accessibleName().isEmpty() && control->text().isEmpty())
        << control->objectName().toStdString();
    EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->objectName().toStdString();
  }

  delegate.togglePopover();
  EXPECT_FALSE(popover->isShown());
}

}  // namespace
}  // namespace ferrytide::menu
