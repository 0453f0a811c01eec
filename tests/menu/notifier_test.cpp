#include "menu/services/notifier.h"

#include <gtest/gtest.h>

#include <QUrl>

#include "menu/qt_wait.h"
#include "support/fake_notification_server.h"
#include "support/temp_dir.h"

namespace ferrytide::menu {
namespace {

using testing::FakeNotificationServer;
using testing::processEventsUntil;
using testing::readText;
using testing::TempDir;
using testing::writeText;

class NotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start()) << "no private session bus";
    writeText(dir / "opener", "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/opened.log\"\n");
    std::filesystem::permissions(dir / "opener", std::filesystem::perms::owner_all);
  }
  void TearDown() override { server.stop(); }

  std::filesystem::path file(const std::string& name, std::size_t size = 1000) const {
    writeText(dir / name, std::string(size, 'x'));
    return dir / name;
  }
  bool waitForCalls(std::size_t count) {
    return processEventsUntil([&] { return server.calls().size() >= count; });
  }
  const FakeNotificationServer::Call& last() const { return server.calls().back(); }
  void later(int ms) { now = now.addMSecs(ms); }

  TempDir dir;
  FakeNotificationServer server;
  Preferences prefs{QString::fromStdString((dir / "Ferrytide.conf").string())};
  platform::DesktopNotifications notices;
  QDateTime now = QDateTime::fromSecsSinceEpoch(1733480000, Qt::UTC);
  Notifier notifier{prefs, notices,
                    platform::DesktopLauncher(QDBusConnection::sessionBus(),
                                              QString::fromStdString((dir / "opener").string())),
                    [this] { return now; }};
};

TEST_F(NotifierTest, FilesFromOnePhoneShareOneNoticeThatIsReplacedInPlace) {
  notifier.fileReceived(file("a.jpg"), 1000, QStringLiteral("Pixel"));
  ASSERT_TRUE(waitForCalls(1));
  EXPECT_EQ(last().summary, u"a.jpg from Pixel");
  EXPECT_EQ(last().body, u"a.jpg · 1.0 kB");
  EXPECT_EQ(last().replacesId, 0u);
  EXPECT_EQ(last().appName, u"Ferrytide");
  EXPECT_EQ(last().hints.value(QStringLiteral("category")).toString(), u"files.received");
  EXPECT_EQ(last().hints.value(QStringLiteral("sound-name")).toString(), u"message-new-instant");
  EXPECT_TRUE(last().actions.contains(u"open"_qs));
  uint first = last().id;

  later(500);
  notifier.fileReceived(file("b.jpg"), 1000, QStringLiteral("Pixel"));
  later(500);
  notifier.fileReceived(file("c.png", 1100), 1100, QStringLiteral("Pixel"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"3 photos from Pixel"; }));
  EXPECT_EQ(last().body, u"a.jpg and 2 more · 3.1 kB");
  EXPECT_EQ(last().replacesId, first);

  // Too late for the batch, then another phone, then a batch of mixed kinds.
  later(2000);
  notifier.fileReceived(file("d.mp4"), 1000, QStringLiteral("Pixel"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"d.mp4 from Pixel"; }));
  EXPECT_EQ(last().replacesId, 0u);
  notifier.fileReceived(file("e.mov"), 1000, QStringLiteral("Tab"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"e.mov from Tab"; }));
  EXPECT_EQ(last().replacesId, 0u);
  notifier.fileReceived(file("f.mkv"), 1000, QStringLiteral("Tab"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"2 videos from Tab"; }));
  notifier.fileReceived(file("g.pdf"), 1000, QStringLiteral("Tab"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"3 files from Tab"; }));

  // Turned off: received files and text stay quiet, plain messages do not.
  prefs.setNotifyOnReceive(false);
  prefs.setPlaySound(false);
  std::size_t before = server.calls().size();
  notifier.fileReceived(file("h.jpg"), 1, QStringLiteral("Tab"));
  notifier.textReceived(QStringLiteral("hello"), QStringLiteral("Tab"), true);
  notifier.message(QStringLiteral("Not sent"), QStringLiteral("No phone is paired."));
  ASSERT_TRUE(waitForCalls(before + 1));
  EXPECT_EQ(last().summary, u"Not sent");
  EXPECT_EQ(last().hints.value(QStringLiteral("suppress-sound")).toBool(), true);
  EXPECT_FALSE(last().hints.contains(QStringLiteral("sound-name")));
  EXPECT_EQ(server.calls().size(), before + 1);
}

TEST_F(NotifierTest, TextNoticeShowsTheFirstLineShortenedAndOpensClips) {
  int shownClips = 0;
  notifier.onShowClips = [&] { ++shownClips; };
  QString longLine(100, u'x');
  notifier.textReceived(QStringLiteral("\n  \n") + longLine + QStringLiteral("\nsecond"),
                        QStringLiteral("Pixel"), false);
  ASSERT_TRUE(waitForCalls(1));
  EXPECT_EQ(last().summary, u"Text from Pixel");
  EXPECT_EQ(last().body, QString(80, u'x') + QStringLiteral("…\nSaved in Clips."));
  EXPECT_EQ(last().hints.value(QStringLiteral("category")).toString(), u"text.received");

  notifier.textReceived(QString(80, u'y'), QStringLiteral("Pixel"), true);
  ASSERT_TRUE(waitForCalls(2));
  EXPECT_EQ(last().summary, u"Copied from Pixel");
  EXPECT_EQ(last().body,
            QString(80, u'y') + QStringLiteral("\nOn your clipboard. Press Ctrl+V to paste."));

  server.click(last().id, QStringLiteral("default"));
  ASSERT_TRUE(processEventsUntil([&] { return shownClips == 1; }));
}

TEST_F(NotifierTest, EachRetryRunsOnceAndOnlyTheNewestEightAreKept) {
  std::vector<int> retried;
  for (int i = 1; i <= 9; ++i) {
    notifier.sendFailed(QStringLiteral("Pixel"), [&retried, i] { retried.push_back(i); });
  }
  ASSERT_TRUE(waitForCalls(9));
  EXPECT_EQ(last().summary, u"Couldn't reach Pixel");
  EXPECT_EQ(last().body, u"Check that it's on the same Wi-Fi, then try again.");
  EXPECT_EQ(last().hints.value(QStringLiteral("category")).toString(), u"send.failed");
  EXPECT_EQ(last().actions,
            (QStringList{u"default"_qs, u"Try Again"_qs, u"retry"_qs, u"Try Again"_qs}));

  const std::vector<FakeNotificationServer::Call> calls = server.calls();
  server.click(calls[0].id, QStringLiteral("retry"));  // evicted by the ninth
  server.click(calls[8].id, QStringLiteral("retry"));
  server.click(calls[8].id, QStringLiteral("default"));
  server.close(calls[7].id);
  server.click(calls[7].id, QStringLiteral("retry"));
  server.click(calls[1].id, QStringLiteral("default"));
  ASSERT_TRUE(processEventsUntil([&] { return retried.size() >= 2; }));
  EXPECT_EQ(retried, (std::vector<int>{9, 2}));

  // Without a retry action there is nothing to try again.
  notifier.sendFailed(QStringLiteral("Tab"));
  ASSERT_TRUE(waitForCalls(10));
  EXPECT_TRUE(last().actions.isEmpty());
  EXPECT_FALSE(last().hints.contains(QStringLiteral("category")));
}

TEST_F(NotifierTest, CrashNoticeIsSilentReplacesTheOlderOneAndOpensTheReport) {
  int reports = 0;
  notifier.onShowReport = [&] { ++reports; };
  notifier.crashFound();
  ASSERT_TRUE(waitForCalls(1));
  EXPECT_EQ(last().summary, u"Ferrytide quit unexpectedly");
  EXPECT_EQ(last().body, u"Click to tell us about it. Nothing is sent until you choose to.");
  EXPECT_EQ(last().hints.value(QStringLiteral("category")).toString(), u"app.crashed");
  EXPECT_EQ(last().hints.value(QStringLiteral("suppress-sound")).toBool(), true);
  uint first = last().id;
  notifier.crashFound();
  ASSERT_TRUE(waitForCalls(2));
  EXPECT_EQ(last().replacesId, first);
  server.click(first, QStringLiteral("default"));
  ASSERT_TRUE(processEventsUntil([&] { return reports == 1; }));
}

TEST_F(NotifierTest, OpenRunsOnlySafeFilesAndShowsTheRestInTheFileManager) {
  std::filesystem::path photo = file("photo.jpg");
  std::filesystem::path script = file("run.sh");
  std::filesystem::path launcher = file("app.desktop");
  std::filesystem::path marked = file("notes.txt");
  std::filesystem::permissions(marked, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  std::filesystem::path gone = file("gone.pdf");
  for (const auto& received : {photo, script, launcher, marked, gone}) {
    notifier.fileReceived(received, 1000, QStringLiteral("Pixel"));
  }
  std::filesystem::remove(gone);
  ASSERT_TRUE(processEventsUntil(
      [&] { return !server.calls().empty() && last().summary == u"5 files from Pixel"; }));

  auto uri = [](const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string())).toString();
  };
  server.click(last().id, QStringLiteral("open"));
  ASSERT_TRUE(processEventsUntil(
      [&] { return !server.revealed().empty() && !readText(dir / "opened.log").empty(); }));
  EXPECT_EQ(server.revealed().front(), (QStringList{uri(script), uri(launcher), uri(marked)}));
  server.click(last().id, QStringLiteral("default"));
  ASSERT_TRUE(processEventsUntil([&] { return server.revealed().size() == 2; }));
  EXPECT_EQ(server.revealed().back().size(), 4);
  EXPECT_EQ(readText(dir / "opened.log"), photo.string() + "\n");

  EXPECT_TRUE(Notifier::isSafeToOpen(file("song.mp3")));
  EXPECT_TRUE(Notifier::isSafeToOpen(file("paper.pdf")));
  EXPECT_FALSE(Notifier::isSafeToOpen(file("page.html")));
  EXPECT_FALSE(Notifier::isSafeToOpen(file("tool.py")));
  EXPECT_FALSE(Notifier::isSafeToOpen(file("blob.unknownext")));
}

TEST_F(NotifierTest, WithoutAServerNoticesAreDroppedAndLaterOnesShown) {
  server.stop();
  std::vector<QString> gone;
  QObject::connect(&notices, &platform::DesktopNotifications::closed,
                   [&](const QString& key) { gone.push_back(key); });
  notifier.message(QStringLiteral("Not sent"), QStringLiteral("first"));
  notices.post(QStringLiteral("same"), {QStringLiteral("one"), {}, {}, {}});
  ASSERT_TRUE(processEventsUntil([&] { return gone.size() == 2; }));
  EXPECT_EQ(gone.back(), u"same");
  ASSERT_TRUE(server.start());
  notices.post(QStringLiteral("same"), {QStringLiteral("two"), {}, {}, {}});
  ASSERT_TRUE(waitForCalls(1));
  EXPECT_EQ(last().summary, u"two");
  EXPECT_EQ(server.calls().size(), 1u);
}

}  // namespace
}  // namespace ferrytide::menu
