// `ferrytide` with its tray, as its own process on an X server with a tray host (trayer): the
// icon lands in the tray, a file from the phone gives its notice and its recent-files row, and
// a second start takes over from the first.

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "core/support/json.h"
#include "daemon/app_process.h"
#include "support/fake_notification_server.h"

namespace ferrytide::testing {
namespace {

// Whether a window of the application's class sits inside the tray host's panel in
// `xwininfo -root -tree`: nested windows are indented deeper than their parent.
bool iconEmbeddedInPanel(const std::string& tree) {
  std::istringstream lines(tree);
  std::string line;
  std::size_t panelIndent = std::string::npos;
  while (std::getline(lines, line)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    if (contains(line, "(\"panel\" \"trayer\")")) {
      panelIndent = indent;
    } else if (panelIndent != std::string::npos && indent <= panelIndent) {
      panelIndent = std::string::npos;
    } else if (panelIndent != std::string::npos &&
               contains(line, "(\"ferrytide\" \"Ferrytide\")")) {
      return true;
    }
  }
  return false;
}

std::string windowTree() { return runToExit({"/usr/bin/xwininfo", "-root", "-tree"}, {}).output; }

class TrayAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(notifications.start()) << "the fake notification server found no bus";
    ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
    trayHost = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right",
                                 "--widthtype", "request", "--height", "24"},
        Environment{});
    ASSERT_TRUE(
        processEventsUntil([] { return contains(windowTree(), "\"trayer\")"); }, kProcessTimeout))
        << trayHost->output();
  }
  void TearDown() override { notifications.stop(); }

  // Started once it receives.
  std::unique_ptr<ChildProcess> startTray() {
    auto tray = std::make_unique<ChildProcess>(
        std::vector<std::string>{FERRYTIDE_APP_PATH, "--address", "127.0.0.1", "--port",
                                 std::to_string(devices.computerPort)},
        devices.computerEnvironment);
    EXPECT_TRUE(waitForOutput(*tray, "Receiving on port " + std::to_string(devices.computerPort)))
        << tray->output();
    return tray;
  }

  FakeNotificationServer notifications;
  TwoDevices devices;
  std::unique_ptr<ChildProcess> trayHost;
};

TEST_F(TrayAppTest, IconInTheTrayAFileGivesItsNoticeAndRowAndANewerStartTakesOver) {
  std::unique_ptr<ChildProcess> first = startTray();
  ASSERT_TRUE(processEventsUntil([] { return iconEmbeddedInPanel(windowTree()); }, kProcessTimeout))
      << windowTree() << first->output();

  std::filesystem::path photo = devices.makeFile("harbour.jpg", 200 * 1024);
  Finished sent = runPumping(devices.phone({"send", photo.string()}), {});
  ASSERT_EQ(sent.exitStatus, 0) << sent.output << first->output();
  EXPECT_EQ(
      fileDigest(devices.root() / "computer-home" / "Downloads" / "Ferrytide" / "harbour.jpg"),
      fileDigest(photo));
  ASSERT_TRUE(processEventsUntil([&] { return !notifications.calls().empty(); }))
      << first->output();
  EXPECT_TRUE(notifications.calls().front().body.startsWith(QStringLiteral("harbour.jpg")))
      << notifications.calls().front().body.toStdString();
  // The popover lists the recent files from this store; the in-process tests look at the row.
  std::filesystem::path recent = devices.computerData() / "Ferrytide" / "recent-files.json";
  EXPECT_TRUE(processEventsUntil([&] {
    std::string text = readText(recent);
    return !text.empty() && json::parse(text).size() == 1u;
  })) << readText(recent);

  std::unique_ptr<ChildProcess> second = startTray();
  EXPECT_EQ(waitForExit(*first), 0) << first->output();
  EXPECT_TRUE(contains(first->output(), "a newer start took over")) << first->output();
  EXPECT_TRUE(processEventsUntil([] { return iconEmbeddedInPanel(windowTree()); }, kProcessTimeout))
      << windowTree() << second->output();
  second->signal(SIGTERM);
  EXPECT_EQ(waitForExit(*second), 0) << second->output();
}

}  // namespace
}  // namespace ferrytide::testing
