// The updater against an HTTPS server of the test's own on loopback, trusted through a
// throw-away certificate: the feed, the download, the signature check and the install into a
// portable folder, each failure on the way, and a copy from the package manager.

#include "plinth_updates/updater.h"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <QSettings>
#include <thread>

#include "core/support/http_client.h"
#include "menu/qt_wait.h"
#include "plinth_updates/signing_key.h"
#include "plinth_updates/test_archive.h"
#include "support/mock_http_server.h"
#include "support/temp_dir.h"
#include "support/throwaway_certificate.h"

namespace plinth {
namespace {

namespace fs = std::filesystem;
using ferrytide::testing::MockHttpServer;
using ferrytide::testing::processEventsUntil;
using ferrytide::testing::readText;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;
using CheckState = Updater::CheckState;

std::string item(const std::string& version, const std::string& os, const std::string& url,
                 std::size_t length, const std::string& signature,
                 const std::string& extra = "") {
  return "<item><title>Ferrytide " + version + "</title><sparkle:version>" + version +
         "</sparkle:version><description><![CDATA[<p>Notes of " + version +
         "</p>]]></description><sparkle:releaseNotesLink>https://notes.example/" + version +
         "</sparkle:releaseNotesLink><link>https://download.example/</link>" + extra +
         "<enclosure url=\"" + url + "\" length=\"" + std::to_string(length) +
         "\" type=\"application/octet-stream\" sparkle:os=\"" + os + "\" sparkle:edSignature=\"" +
         signature + "\"/></item>";
}

MockHttpServer::Reply reply(int status, std::string body,
                           std::string type = "application/octet-stream") {
  MockHttpServer::Reply made;
  made.status = status;
  made.body = std::move(body);
  made.contentType = std::move(type);
  return made;
}

std::string feed(const std::string& items) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
         "xmlns:sparkle=\"https://ferrytide.example/xml-namespaces/appcast\"><channel>"
         "<title>Ferrytide</title>" +
         items + "</channel></rss>";
}

class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest()
      : server([this](const MockHttpServer::Request& request) { return answer(request); },
               certificate) {
    writeText(dir / "trust.pem", certificate.certificatePem);
    writeText(root / "ferrytide.portable", "");
    writeText(root / "bin" / "ferrytide", "old program");
    fs::permissions(root / "bin" / "ferrytide", fs::perms::owner_all);
    writeArchive(dir / "release.tar.gz", testing::Format::tarGz,
                 {testing::file("ferrytide.portable", ""), testing::folder("bin"),
                  testing::file("bin/ferrytide", "new program", 0755)});
    archive = readText(dir / "release.tar.gz");
    network = std::thread([this] { io.run(); });
  }
  ~UpdaterTest() override {
    updater.reset();
    work.reset();
    network.join();
  }

  MockHttpServer::Reply answer(const MockHttpServer::Request& request) {
    if (request.target == "/appcast.xml") return feedReply;
    if (request.target == "/release.tar.gz") return archiveReply.value_or(reply(200, archive));
    return reply(404, "");
  }

  // A feed with older, newer, foreign and beta items; 1.10.0 is the one for this computer.
  void serveFeed(const std::string& signature, std::size_t length) {
    std::string url = server.baseUrl() + "/release.tar.gz";
    feedReply.contentType = "application/rss+xml";
    feedReply.body = feed(item("1.9.0", "linux", url, length, signature) +
                          item("1.10.0", "linux", url, length, signature) +
                          item("2.0.0", "macos", url, length, signature) +
                          item("3.0.0", "linux", url, length, signature,
                               "<sparkle:channel>beta</sparkle:channel>") +
                          item("0.9.0", "linux", url, length, signature));
  }
  void serveGoodFeed() { serveFeed(key.signBase64(ferrytide::asBytes(archive)), archive.size()); }

  void startUpdater(InstallKind kind = InstallKind::selfContained,
                    std::chrono::milliseconds firstCheck = std::chrono::hours(1)) {
    UpdaterOptions options;
    options.config = UpdaterConfig{.feedUrl = server.baseUrl() + "/appcast.xml",
                                   .publicEdKey = key.publicKeyBase64(),
                                   .caFile = (dir / "trust.pem").string(),
                                   .appName = "Ferrytide",
                                   .currentVersion = "1.2.0",
                                   .downloadFolder = dir / "downloads"};
    options.location = InstallLocation::detect(root / "bin" / "ferrytide");
    if (kind == InstallKind::packageManager) {
      options.location = InstallLocation{InstallKind::packageManager, {}, "/usr/bin/ferrytide"};
    }
    ASSERT_EQ(options.location.kind, kind);
    options.network = io.get_executor();
    options.http = &http;
    options.settingsFile = QString::fromStdString((dir / "settings.ini").string());
    options.firstCheckDelay = firstCheck;
    options.relaunch = [this](const fs::path& program) {
      relaunched.push_back(program);
      return true;
    };
    options.openPage = [this](const QString& url) { opened.push_back(url); };
    updater = std::make_unique<Updater>(
        QStringLiteral("Ferrytide"),
        [this](const QString& version) { backgroundFound.push_back(version); }, options);
    QObject::connect(updater.get(), &Updater::changed,
                     [this] { states.push_back(updater->checkState()); });
  }

  bool waitFor(CheckState state) {
    return processEventsUntil([&] { return updater->checkState() == state; });
  }
  bool seen(CheckState state) const {
    return std::find(states.begin(), states.end(), state) != states.end();
  }
  // As if the last check were long ago, so that the next start checks at once.
  void forget(const char* name) {
    QSettings(QString::fromStdString((dir / "settings.ini").string()), QSettings::IniFormat)
        .remove(QLatin1String(name));
  }
  std::size_t downloads() const { return server.requestsTo("/release.tar.gz").size(); }

  TempDir dir;
  fs::path root = dir / "Ferrytide";
  MockHttpServer::TlsIdentity certificate = ferrytide::testing::makeThrowawayCertificate();
  MockHttpServer server;
  MockHttpServer::Reply feedReply;
  std::optional<MockHttpServer::Reply> archiveReply;
  std::string archive;
  testing::SigningKey key;
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{
      asio::make_work_guard(io)};
  std::thread network;
  ferrytide::HttpClient http;
  std::unique_ptr<Updater> updater;
  std::vector<CheckState> states;
  std::vector<fs::path> relaunched;
  std::vector<QString> opened;
  std::vector<QString> backgroundFound;
};

TEST_F(UpdaterTest, CheckOffersTheNewestItemForThisComputerAndInstallSwapsTheFolder) {
  serveGoodFeed();
  startUpdater();
  ASSERT_TRUE(updater->available());
  updater->checkNow();
  ASSERT_TRUE(waitFor(CheckState::available)) << updater->failure().toStdString();
  EXPECT_TRUE(seen(CheckState::checking));
  EXPECT_EQ(updater->offeredVersion(), QStringLiteral("1.10.0"));
  EXPECT_TRUE(backgroundFound.empty());
  ASSERT_EQ(updater->versionHistory().size(), 5u);
  EXPECT_EQ(updater->versionHistory().front().version, "3.0.0");
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
