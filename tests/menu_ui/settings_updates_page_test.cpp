// The Updates page over a real updater and an update server of the test's own, and the tray
// application's side of updates: its menu item and the page it reopens after an update.

#include "menu/windows/settings_updates_page.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "menu/app_services.h"
#include "menu/models/preferences.h"
#include "menu/tray/menu_bar_app_delegate.h"
#include "menu/tray/status_menu.h"
#include "menu/windows/version_history_dialog.h"
#include "plinth/plinth_test_support.h"
#include "plinth_updates/update_world.h"
#include "support/child_process.h"
#include "support/fake_notification_server.h"
#include "support/test_peers.h"

namespace ferrytide::menu {
namespace {

using ::plinth::InstallKind;
using ::plinth::testing::processEventsUntil;
using ::plinth::testing::reply;

class SettingsUpdatesPageTest : public ::testing::Test, public ::plinth::testing::UpdateWorld {
 protected:
  SettingsUpdatesPage& page(InstallKind kind = InstallKind::selfContained) {
    if (!page_) {
      startUpdater(kind);
      page_ = std::make_unique<SettingsUpdatesPage>(updater.get());
      page_->resize(560, 360);
      page_->show();
    }
    return *page_;
  }
  template <typename Widget>
  Widget* find(const char* name) {
    auto* found = page().findChild<Widget*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString text(const char* label) { return find<QLabel>(label)->text(); }
  bool showsTitle(const QString& title) {
    return processEventsUntil([&] { return text("updateStatusLabel") == title; });
  }
  void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
  bool visible(const char* name) { return find<QWidget>(name)->isVisible(); }
  void shoot(const QString& name) {
    plinth::testing::shoot(&page(), QStringLiteral("settings-updates-") + name);
  }

  std::unique_ptr<SettingsUpdatesPage> page_;
};

TEST_F(SettingsUpdatesPageTest, PageFollowsEachStepAndItsControlsAnswerTheUpdater) {
  {
    SettingsUpdatesPage without(nullptr);
    without.resize(560, 200);
    auto* source = without.findChild<QLabel*>(QStringLiteral("updateSourceLabel"));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->text(), QStringLiteral("Updates aren't set up in this build"));
    plinth::testing::shoot(&without, QStringLiteral("settings-updates-not-set-up"));
  }
  serveGoodFeed();
  EXPECT_EQ(text("updateStatusLabel"), QStringLiteral("Updates"));
  EXPECT_EQ(text("updateDetailLabel"), QStringLiteral("Not checked yet."));
  auto* automatic = find<QCheckBox>("automaticUpdatesSwitch");
  EXPECT_TRUE(automatic->isChecked());
  automatic->click();
  EXPECT_FALSE(updater->automaticallyInstalls());

  click("checkNowButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("1.10.0 is available")));
  EXPECT_TRUE(visible("installUpdateButton"));
  EXPECT_TRUE(visible("moreUpdateOptions"));
  EXPECT_FALSE(visible("checkNowButton"));
  shoot(QStringLiteral("available"));

  click("versionHistoryButton");
  auto* history = page().findChild<VersionHistoryDialog*>();
  ASSERT_NE(history, nullptr);
  QString notes = history->findChild<QTextBrowser*>()->toPlainText();
  EXPECT_TRUE(notes.contains(QStringLiteral("In this version")));
  EXPECT_LT(notes.indexOf(QStringLiteral("1.10.0")), notes.indexOf(QStringLiteral("0.9.0")));
  EXPECT_FALSE(notes.contains(QStringLiteral("2.0.0"))) << "another platform's version";
  plinth::testing::shoot(history, QStringLiteral("settings-updates-history"));
  history->close();

  find<QAction>("remindLaterAction")->trigger();
  ASSERT_TRUE(showsTitle(QStringLiteral("Updates")));
  EXPECT_TRUE(text("updateDetailLabel").startsWith(QStringLiteral("Last checked ")));

  // A slow download holds the page on its step long enough to be seen.
  archiveReply = reply(200, archive);
  archiveReply->delay = std::chrono::milliseconds(700);
  click("checkNowButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("1.10.0 is available")));
  click("installUpdateButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("Updating to 1.10.0")));
  EXPECT_TRUE(visible("updateProgress"));
  shoot(QStringLiteral("downloading"));
  ASSERT_TRUE(showsTitle(QStringLiteral("Ferrytide will reopen in a moment.")));
  EXPECT_TRUE(processEventsUntil([&] { return !relaunched.empty(); }));
  shoot(QStringLiteral("installing"));
}

TEST_F(SettingsUpdatesPageTest, FailuresAndAPackageManagerCopyShowWhatToDo) {
  feedReply = reply(500, "oops");
  click("checkNowButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("Couldn't check for updates")));
  EXPECT_EQ(text("updateDetailLabel"),
            QStringLiteral("Check your internet connection, then try again."));
  EXPECT_TRUE(text("updateFailureLabel").contains(QStringLiteral("HTTP 500")));
  EXPECT_TRUE(visible("checkNowButton"));
  shoot(QStringLiteral("failed"));

  feedReply = reply(200, ::plinth::testing::feed(""));
  click("checkNowButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("You're up to date")));
  shoot(QStringLiteral("up-to-date"));

  page_.reset();
  serveGoodFeed();
  page(InstallKind::packageManager);
  EXPECT_EQ(page().findChild<QCheckBox*>(), nullptr) << "nothing to install automatically";
  click("checkNowButton");
  ASSERT_TRUE(showsTitle(QStringLiteral("1.10.0 is available")));
  EXPECT_EQ(find<QPushButton>("installUpdateButton")->text(), QStringLiteral("Release Notes"));
  EXPECT_TRUE(visible("downloadPageButton"));
  shoot(QStringLiteral("package-manager"));
  click("installUpdateButton");
  EXPECT_EQ(opened, std::vector<QString>{QStringLiteral("https://notes.example/1.10.0")});
  EXPECT_EQ(downloads(), 0u);
}

TEST_F(SettingsUpdatesPageTest, TrayMenuChecksAndARestartAfterAnUpdateReopensTheUpdatesPage) {
  serveGoodFeed();
  ferrytide::testing::FakeNotificationServer notifications;
  ASSERT_TRUE(notifications.start());
  QSettings(Preferences::defaultSettingsFile(), QSettings::IniFormat)
      .setValue(::plinth::Updater::reopenAfterInstallKey(), true);
  MenuBarAppDelegate delegate{{.port = ferrytide::testing::freeLoopbackPort(),
                               .registerHotkeys = false,
                               .listenAddress = asio::ip::make_address("127.0.0.1"),
                               .updates = config()}};
  ASSERT_TRUE(delegate.applicationDidFinishLaunching());
  ASSERT_NE(delegate.settingsContent(), nullptr);
  EXPECT_EQ(delegate.settingsNavigation().section(), SettingsSection::updates);
  EXPECT_FALSE(::plinth::Updater::takeReopenAfterInstall(Preferences::defaultSettingsFile()));

  QList<QAction*> items = delegate.statusMenu()->actions();
  ASSERT_GE(items.size(), 2);
  EXPECT_EQ(items[1]->text(), QStringLiteral("Check for Updates…"));
  items[1]->trigger();
  auto* status = delegate.settingsContent()->findChild<QLabel*>(QStringLiteral("updateStatusLabel"));
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(processEventsUntil([&] { return status->text() == QStringLiteral("1.10.0 is available"); }))
      << status->text().toStdString();
  notifications.stop();
}

}  // namespace
}  // namespace ferrytide::menu
