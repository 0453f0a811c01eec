// `ferrytide --headless` as its own process against the phone emulator: what a paired phone
// sends ends up in the save folder, the recent files, the clipboard and the clip history, with
// one notice per batch of files; asking before receiving goes through a notification.

#include <gtest/gtest.h>

#include <csignal>

#include "core/support/json.h"
#include "daemon/app_process.h"
#include "e2e/two_devices.h"
#include "menu/qt_wait.h"
#include "support/fake_notification_server.h"

namespace ferrytide::testing {
namespace {

using namespace std::chrono_literals;

class HeadlessDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(notifications.start()) << "the fake notification server found no bus";
    ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  }
  void TearDown() override { notifications.stop(); }

  // Started once it says whether it receives: `ready` is the start of that line.
  std::unique_ptr<ChildProcess> startDaemon(const std::string& ready = "Receiving on port ") {
    auto daemon = std::make_unique<ChildProcess>(
        std::vector<std::string>{FERRYTIDE_APP_PATH, "--headless", "--address", "127.0.0.1",
                                 "--port", std::to_string(devices.computerPort)},
        devices.computerEnvironment);
    std::string expected =
        ready == "Receiving on port " ? ready + std::to_string(devices.computerPort) : ready;
    EXPECT_TRUE(waitForOutput(*daemon, expected)) << daemon->output();
    return daemon;
  }

  Finished phone(std::vector<std::string> arguments) {
    return runPumping(devices.phone(std::move(arguments)), {});
  }

  std::filesystem::path saveFolder() const {
    return devices.root() / "computer-home" / "Downloads" / "Ferrytide";
  }
  std::filesystem::path stateFile(const std::string& name) const {
    return devices.computerData() / "Ferrytide" / name;
  }

  FakeNotificationServer notifications;
  TwoDevices devices;
};

TEST_F(HeadlessDaemonTest, FilesAndTextFromThePhoneBecomeFilesRecentRowsClipsAndNotices) {
  std::unique_ptr<ChildProcess> daemon = startDaemon();
  std::filesystem::path first = devices.makeFile("first.jpg", 300 * 1024);
  std::filesystem::path second = devices.makeFile("second.pdf", 2 * 1024 * 1024 + 7);

  Finished sent = phone({"send", first.string(), second.string()});
  ASSERT_EQ(sent.exitStatus, 0) << sent.output << daemon->output();
  EXPECT_EQ(fileDigest(saveFolder() / "first.jpg"), fileDigest(first));
  EXPECT_EQ(fileDigest(saveFolder() / "second.pdf"), fileDigest(second));

  Finished clip = phone({"clip", "from the phone ✓"});
  ASSERT_EQ(clip.exitStatus, 0) << clip.output << daemon->output();
  // Each of these is written a moment after the phone hears back.
  std::filesystem::path clips = stateFile("clips.json");
  EXPECT_TRUE(processEventsUntil([&] { return contains(readText(clips), "from the phone ✓"); }))
      << daemon->output();
  auto clipboardText = [] {
    return runToExit({"/usr/bin/xclip", "-selection", "clipboard", "-o"}, {}).output;
  };
  EXPECT_TRUE(processEventsUntil([&] { return clipboardText() == "from the phone ✓"; }))
      << clipboardText();
  auto recentRows = [&] {
    std::string text = readText(stateFile("recent-files.json"));
    return text.empty() ? std::size_t{0} : json::parse(text).size();
  };
  EXPECT_TRUE(processEventsUntil([&] { return recentRows() == 2u; })) << recentRows();

  // The two files share one notice, posted for the first and replaced for the second; the
  // text has its own.
  const auto& calls = notifications.calls();
  ASSERT_TRUE(processEventsUntil([&] { return calls.size() >= 3u; })) << daemon->output();
  ASSERT_EQ(calls.size(), 3u) << daemon->output();
  EXPECT_EQ(calls[0].replacesId, 0u);
  EXPECT_TRUE(calls[0].body.startsWith(QStringLiteral("first.jpg"))) << calls[0].body.toStdString();
  EXPECT_EQ(calls[1].replacesId, calls[0].id);
  EXPECT_TRUE(calls[1].body.contains(QStringLiteral("and 1 more"))) << calls[1].body.toStdString();
  EXPECT_EQ(calls[2].summary, QStringLiteral("Copied from Pixel Test"));

  daemon->signal(SIGTERM);
  EXPECT_EQ(waitForExit(*daemon), 0) << daemon->output();
}

TEST_F(HeadlessDaemonTest, DeclinedOfferWritesNothingAndAForgottenPhoneIsNotEvenAsked) {
  std::filesystem::path settings =
      devices.root() / "computer-config" / "Ferrytide" / "Ferrytide.conf";
  writeText(settings, "[General]\nferrytide.askBeforeReceiving=true\n");
  std::unique_ptr<ChildProcess> daemon = startDaemon();
  std::filesystem::path file = devices.makeFile("secret.zip", 64 * 1024);

  ChildProcess send(devices.phone({"send", file.string()}), {});
  ASSERT_TRUE(processEventsUntil([&] { return !notifications.calls().empty(); }, kProcessTimeout))
      << daemon->output();
  const FakeNotificationServer::Call question = notifications.calls().back();
  EXPECT_EQ(question.summary, QStringLiteral("Pixel Test wants to send"));
  ASSERT_TRUE(question.actions.contains(QStringLiteral("decline")));
  notifications.click(question.id, QStringLiteral("decline"));
  EXPECT_NE(waitForExit(send).value_or(0), 0) << send.output();
  EXPECT_EQ(namesIn(saveFolder()), std::vector<std::string>{}) << daemon->output();

  Finished forgot = runPumping(devices.cli({"forget", "Pixel"}), devices.computerEnvironment);
  ASSERT_EQ(forgot.exitStatus, 0) << forgot.output;
  std::size_t noticesBefore = notifications.calls().size();
  Finished refused = phone({"send", file.string()});
  EXPECT_NE(refused.exitStatus, 0) << refused.output;
  EXPECT_EQ(notifications.calls().size(), noticesBefore) << daemon->output();
  EXPECT_EQ(namesIn(saveFolder()), std::vector<std::string>{});
}

TEST_F(HeadlessDaemonTest, SharedFilesReachThePhoneAndAJobForAForgottenPhoneIsKeptAside) {
  std::unique_ptr<ChildProcess> phoneServer = devices.startPhoneServer();
  std::unique_ptr<ChildProcess> daemon = startDaemon();
  std::filesystem::path report = devices.makeFile("report.pdf", 512 * 1024);
  Finished shared = runPumping(devices.cli({"share", report.string(), "--to", "Pixel"}),
                               devices.computerEnvironment);
  ASSERT_EQ(shared.exitStatus, 0) << shared.output;
  std::filesystem::path arrived = devices.phoneInbox() / "report.pdf";
  ASSERT_TRUE(processEventsUntil([&] { return fileDigest(arrived) == fileDigest(report); },
                                 kProcessTimeout))
      << daemon->output() << phoneServer->output();
  ASSERT_TRUE(processEventsUntil([&] { return !notifications.calls().empty(); }));
  EXPECT_EQ(notifications.calls().back().summary, QStringLiteral("Sent report.pdf to Pixel Test"));
  daemon->signal(SIGTERM);
  ASSERT_EQ(waitForExit(*daemon), 0) << daemon->output();

  // Shared while the application is not running, to a phone forgotten before it starts.
  ASSERT_EQ(
      runPumping(devices.cli({"share", report.string()}), devices.computerEnvironment).exitStatus,
      0);
  ASSERT_EQ(runPumping(devices.cli({"forget", "Pixel"}), devices.computerEnvironment).exitStatus,
            0);
  daemon = startDaemon("Not receiving: ");
  ASSERT_TRUE(processEventsUntil([&] { return notifications.calls().size() >= 2; }))
      << daemon->output();
  EXPECT_EQ(notifications.calls().back().body,
            QStringLiteral("No paired phone matched. Pair a phone, then share again."));
  std::filesystem::path outbox = devices.computerData() / "group.com.quenfold.ferrytide" / "Outbox";
  EXPECT_EQ(namesIn(outbox / ".kept").size(), 1u);
}

}  // namespace
}  // namespace ferrytide::testing
