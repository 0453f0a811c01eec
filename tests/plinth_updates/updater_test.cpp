// The updater against an HTTPS server of the test's own on loopback, trusted through a
// throw-away certificate: the feed, the download, the signature check and the install into a
// portable folder, each failure on the way, and a copy from the package manager.

#include "plinth_updates/updater.h"

#include <gtest/gtest.h>

#include "plinth_updates/update_world.h"

namespace plinth {
namespace {

namespace fs = std::filesystem;
using testing::CheckState;
using testing::feed;
using testing::MockHttpServer;
using testing::processEventsUntil;
using testing::readText;
using testing::writeText;
using testing::item;
using testing::reply;

class UpdaterTest : public ::testing::Test, public testing::UpdateWorld {};

TEST_F(UpdaterTest, CheckOffersTheNewestItemForThisComputerAndInstallSwapsTheFolder) {
  serveGoodFeed();
  startUpdater();
  ASSERT_TRUE(updater->available());
  updater->checkNow();
  ASSERT_TRUE(waitFor(CheckState::available)) << updater->failure().toStdString();
  EXPECT_TRUE(seen(CheckState::checking));
  EXPECT_EQ(updater->offeredVersion(), QStringLiteral("1.10.0"));
  EXPECT_TRUE(backgroundFound.empty());
  ASSERT_EQ(updater->versionHistory().size(), 3u);
  EXPECT_EQ(updater->versionHistory().front().version, "1.10.0");
  EXPECT_EQ(updater->versionHistory().back().version, "0.9.0");

  updater->install();
  ASSERT_TRUE(processEventsUntil([&] { return !relaunched.empty(); }))
      << updater->failure().toStdString();
  EXPECT_TRUE(seen(CheckState::downloading));
  EXPECT_EQ(updater->checkState(), CheckState::installing);
  EXPECT_EQ(relaunched.front(), root / "bin" / "ferrytide");
  EXPECT_EQ(readText(root / "bin" / "ferrytide"), "new program");
  EXPECT_EQ(ferrytide::testing::entriesIn(dir / "downloads"), 0u);
  // The new copy opens the Updates page once.
  QString settings = QString::fromStdString((dir / "settings.ini").string());
  EXPECT_TRUE(Updater::takeReopenAfterInstall(settings));
  EXPECT_FALSE(Updater::takeReopenAfterInstall(settings));
}

TEST_F(UpdaterTest, BadDownloadsFailAndLeaveTheInstallAsItWas) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* failure;
  };
  std::vector<Case> cases = {
      {"wrong signature",
       [this] { serveFeed(testing::SigningKey().signBase64(ferrytide::asBytes(archive)),
                          archive.size()); },
       "signature does not match"},
      {"no signature", [this] { serveFeed("", archive.size()); }, "has no signature"},
      {"length the feed does not give",
       [this] { serveFeed(key.signBase64(ferrytide::asBytes(archive)), archive.size() + 1); },
       "the feed says"},
      {"truncated download",
       [this] {
         serveGoodFeed();
         archiveReply = reply(200, archive.substr(0, archive.size() / 2));
         archiveReply->announcedLength = archive.size();
       },
       ""},
      {"server error",
       [this] {
         serveGoodFeed();
         archiveReply = reply(503, "busy");
       },
       "HTTP 503"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    archiveReply.reset();
    test.arrange();
    startUpdater();
    updater->checkNow();
    ASSERT_TRUE(waitFor(CheckState::available)) << updater->failure().toStdString();
    updater->install();
    ASSERT_TRUE(waitFor(CheckState::failed));
    EXPECT_NE(updater->failure().toStdString().find(test.failure), std::string::npos)
        << updater->failure().toStdString();
    EXPECT_EQ(readText(root / "bin" / "ferrytide"), "old program");
    EXPECT_EQ(ferrytide::testing::entriesIn(dir.path()), 5u);  // no stray folder beside the install
    EXPECT_EQ(ferrytide::testing::entriesIn(dir / "downloads"), 0u);
    EXPECT_TRUE(relaunched.empty());
  }
}

TEST_F(UpdaterTest, UnusableFeedsFailAndNothingNewerIsUpToDate) {
  struct Case {
    const char* what;
    MockHttpServer::Reply reply;
    CheckState state;
    const char* failure;
  };
  std::string olderOnly = feed(item("1.1.0", "linux", "https://x.example/a", 1, "c2ln"));
  std::vector<Case> cases = {
      {"server error", reply(500, "oops"), CheckState::failed, "HTTP 500"},
      {"not XML", reply(200, "{\"version\": 2}"), CheckState::failed, "not XML"},
      {"nothing newer", reply(200, olderOnly), CheckState::upToDate, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    feedReply = test.reply;
    startUpdater();
    updater->checkNow();
    ASSERT_TRUE(waitFor(test.state)) << updater->failure().toStdString();
    EXPECT_NE(updater->failure().toStdString().find(test.failure), std::string::npos);
    EXPECT_TRUE(updater->lastChecked().has_value());
  }
  // A server the trust root does not vouch for is refused.
  serveGoodFeed();
  fs::remove(dir / "trust.pem");
  writeText(dir / "trust.pem", ferrytide::testing::makeThrowawayCertificate().certificatePem);
  startUpdater();
  updater->checkNow();
  ASSERT_TRUE(waitFor(CheckState::failed));
  EXPECT_EQ(downloads(), 0u);
}

TEST_F(UpdaterTest, BackgroundCheckTellsOnceAndSkippedVersionStaysQuiet) {
  serveGoodFeed();
  startUpdater(InstallKind::selfContained, std::chrono::milliseconds(10));
  updater->setAutomaticallyInstalls(false);
  ASSERT_TRUE(waitFor(CheckState::available));
  EXPECT_EQ(backgroundFound, std::vector<QString>{QStringLiteral("1.10.0")});
  EXPECT_FALSE(seen(CheckState::checking));  // a background check shows no progress
  updater->skip();
  ASSERT_TRUE(waitFor(CheckState::idle));

  // The next start remembers the skipped version; a check of the user's own still offers it.
  forget("lastUpdateCheck");
  startUpdater(InstallKind::selfContained, std::chrono::milliseconds(10));
  ASSERT_TRUE(waitFor(CheckState::upToDate));
  EXPECT_EQ(server.requestsTo("/appcast.xml").size(), 2u);
  EXPECT_EQ(backgroundFound.size(), 1u);
  updater->checkNow();
  ASSERT_TRUE(waitFor(CheckState::available));
  EXPECT_EQ(downloads(), 0u);

  // Installing automatically: the new version is put in place for the next start, unasked.
  updater->remindLater();
  updater->setAutomaticallyInstalls(true);
  forget("skippedUpdateVersion");
  forget("lastUpdateCheck");
  startUpdater(InstallKind::selfContained, std::chrono::milliseconds(10));
  ASSERT_TRUE(processEventsUntil([&] { return !updater->installedForNextStart().isEmpty(); }))
      << updater->failure().toStdString();
  EXPECT_EQ(readText(root / "bin" / "ferrytide"), "new program");
  EXPECT_TRUE(relaunched.empty());
  EXPECT_EQ(backgroundFound.size(), 1u);
}

TEST_F(UpdaterTest, PackageManagerCopyOpensTheReleaseNotesAndNeverWrites) {
  serveGoodFeed();
  startUpdater(InstallKind::packageManager);
  updater->checkNow();
  ASSERT_TRUE(waitFor(CheckState::available));
  updater->install();
  updater->openDownloadPage();
  EXPECT_EQ(opened, (std::vector<QString>{QStringLiteral("https://notes.example/1.10.0"),
                                          QStringLiteral("https://download.example/")}));
  EXPECT_EQ(updater->checkState(), CheckState::available);
  EXPECT_FALSE(processEventsUntil([&] { return downloads() > 0; }, std::chrono::milliseconds(300)));
  EXPECT_FALSE(fs::exists(dir / "downloads"));
  EXPECT_EQ(readText(root / "bin" / "ferrytide"), "old program");
}

}  // namespace
}  // namespace plinth
