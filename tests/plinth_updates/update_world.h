#pragma once

// An update server of the test's own: HTTPS on loopback with a throw-away certificate that the
// updater trusts through its trust-root setting, serving a feed and a signed release archive; a
// portable install for it to replace; the network thread and HTTP client the updater runs on.

#include <QSettings>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "core/support/http_client.h"
#include "menu/qt_wait.h"
#include "plinth_updates/signing_key.h"
#include "plinth_updates/test_archive.h"
#include "plinth_updates/test_feed.h"
#include "plinth_updates/updater.h"
#include "support/mock_http_server.h"
#include "support/temp_dir.h"
#include "support/throwaway_certificate.h"

namespace plinth::testing {

using ferrytide::testing::MockHttpServer;
using ferrytide::testing::processEventsUntil;
using ferrytide::testing::readText;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;
using CheckState = Updater::CheckState;

class UpdateWorld {
 public:
  UpdateWorld()
      : server([this](const MockHttpServer::Request& request) { return answer(request); },
               certificate) {
    writeText(dir / "trust.pem", certificate.certificatePem);
    writeText(root / "ferrytide.portable", "");
    writeText(root / "bin" / "ferrytide", "old program");
    fs::permissions(root / "bin" / "ferrytide", fs::perms::owner_all);
    writeArchive(dir / "release.tar.gz", Format::tarGz,
                 {file("ferrytide.portable", ""), folder("bin"),
                  file("bin/ferrytide", "new program", 0755)});
    archive = readText(dir / "release.tar.gz");
    network = std::thread([this] { io.run(); });
  }
  ~UpdateWorld() {
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

  // The updater's settings for this server: its feed, the test's key and trust root.
  UpdaterConfig config() const {
    return UpdaterConfig{.feedUrl = server.baseUrl() + "/appcast.xml",
                         .publicEdKey = key.publicKeyBase64(),
                         .caFile = (dir / "trust.pem").string(),
                         .currentVersion = "1.2.0",
                         .downloadFolder = dir / "downloads"};
  }

  void startUpdater(InstallKind kind = InstallKind::selfContained,
                    std::chrono::milliseconds firstCheck = std::chrono::hours(1)) {
    UpdaterOptions options;
    options.config = config();
    options.location = InstallLocation::detect(root / "bin" / "ferrytide");
    if (kind == InstallKind::packageManager) {
      options.location = InstallLocation{InstallKind::packageManager, {}, "/usr/bin/ferrytide"};
    }
    if (options.location.kind != kind) throw std::runtime_error("not the install kind asked for");
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
  SigningKey key;
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

}  // namespace plinth::testing
