#include "plinth/hosted_window.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSettings>

#include "plinth/app_presence.h"
#include "support/temp_dir.h"

namespace ferrytide::plinth {
namespace {

struct HostedWindowTest : ::testing::Test {
  ferrytide::testing::TempDir dir;
  QSettings settings{QString::fromStdString((dir / "settings.ini").string()), QSettings::IniFormat};
  AppPresence presence;

  std::unique_ptr<HostedWindow> window(const QString& name, bool resizable = false) {
    return std::make_unique<HostedWindow>(
        QSize(320, 240), name, resizable, [name] { return new QLabel(name); }, presence, settings);
  }
};

TEST_F(HostedWindowTest, OpensCentredThenWhereItWasLeftPerName) {
  auto settingsWindow = window(QStringLiteral("settings"));
  settingsWindow->show();
  QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((settingsWindow->window()->frameGeometry().center() - available.center()).manhattanLength(), 10);
  EXPECT_EQ(settingsWindow->window()->size(), QSize(320, 240));

  settingsWindow->window()->move(30, 40);
  QPoint moved = settingsWindow->window()->pos();
  settingsWindow->close();
  QWidget* kept = settingsWindow->window();
  settingsWindow->show();
  EXPECT_EQ(settingsWindow->window(), kept);
  EXPECT_EQ(settingsWindow->window()->pos(), moved);
  settingsWindow->close();

  auto reopened = window(QStringLiteral("settings"));
  reopened->show();
  EXPECT_EQ(reopened->window()->pos(), moved);
  EXPECT_EQ(reopened->window()->size(), QSize(320, 240));

  auto other = window(QStringLiteral("welcome"));
  other->show();
  EXPECT_LE((other->window()->frameGeometry().center() - available.center()).manhattanLength(), 10);
}

TEST_F(HostedWindowTest, PresenceLastsWhileAnyWindowIsOpenOrKeepsHoldsIt) {
  std::vector<bool> changes;
  QObject::connect(&presence, &AppPresence::presenceChanged,
                   [&](bool present) { changes.push_back(present); });
  int closes = 0;
  auto settingsWindow = window(QStringLiteral("settings"));
  settingsWindow->onClose = [&] { ++closes; };
  auto welcome = window(QStringLiteral("welcome"), true);

  settingsWindow->show();
  welcome->show();
  settingsWindow->show();  // brought forward, not counted again
  EXPECT_EQ(presence.openWindows(), 2);
  settingsWindow->close();
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(presence.isPresent());
  welcome->close();
  EXPECT_FALSE(presence.isPresent());
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

  bool keep = true;
  presence.keeps = [&] { return keep; };
  welcome->show();
  welcome->close();
  EXPECT_TRUE(presence.isPresent());
  keep = false;
  welcome->show();
  welcome->close();
  EXPECT_FALSE(presence.isPresent());
  EXPECT_EQ(presence.openWindows(), 0);
}

}  // namespace
}  // namespace ferrytide::plinth
