#include "menu/models/app_state.h"

#include <gtest/gtest.h>

#include "core/support/json.h"
#include "menu/qt_wait.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"

namespace ferrytide::menu {
namespace {

using testing::processEventsUntil;
using testing::readText;
using testing::TempDir;
using testing::writeText;

using testing::kKeyA;
using testing::kKeyB;
using testing::kKeyC;

PeerRecord phone(const std::string& name, const std::string& key, std::int64_t pairedAt,
                 const std::string& ip = "192.168.1.23", const std::string& android = "14") {
  return testing::phoneRecord(name, key, ip, pairedAt, android);
}

std::vector<std::string> namesOf(const std::vector<PeerRecord>& peers) {
  std::vector<std::string> names;
  for (const PeerRecord& peer : peers) names.push_back(peer.peer_hostname);
  return names;
}

QString q(const std::string& text) { return QString::fromStdString(text); }

class AppStateTest : public ::testing::Test {
 protected:
  AppState::Storage storage() const {
    return AppState::Storage{.store = store,
                             .outbox = ShareOutbox(dir / "group"),
                             .recentFilesFile = dir / "state" / "recent-files.json"};
  }
  void pair(std::vector<PeerRecord> phones) const { store.writeBook(PeerBook{std::move(phones)}); }
  json::Value sharedPeers() const { return json::parse(readText(dir / "group" / "peers.json")); }

  TempDir dir;
  PeerStore store{dir / "state"};
  Preferences prefs{QString::fromStdString((dir / "Ferrytide.conf").string())};
};

TEST_F(AppStateTest, PeersAreNewestPairingFirstAndMirroredWithTheTargetFirst) {
  pair({phone("Old", kKeyA, 100), phone("Tie one", kKeyB, 300, "10.0.0.2", ""),
        phone("Tie two", kKeyC, 300, "", "")});
  prefs.setDisplayName(QStringLiteral("Work"), q(kKeyA));
  AppState state(prefs, storage());
  EXPECT_EQ(namesOf(state.peers()), (std::vector<std::string>{"Tie one", "Tie two", "Old"}));
  EXPECT_EQ(state.defaultOutboundPeerPubkey(), q(kKeyB));

  state.setLastSelectedPeerPubkey(q(kKeyA));
  state.mirrorPeersToAppGroup();
  EXPECT_EQ(sharedPeers(), json::parse(R"([
      {"hostname":"Work","pubkey":")" + kKeyA +
                                       R"(","subtitle":"Android 14"},
      {"hostname":"Tie one","pubkey":")" +
                                       kKeyB + R"(","subtitle":"10.0.0.2"},
      {"hostname":"Tie two","pubkey":")" +
                                       kKeyC + R"(","subtitle":""}])"));
  // The choice survives a restart.
  EXPECT_EQ(AppState(prefs, storage()).selectedPeer()->peer_hostname, "Old");
}

TEST_F(AppStateTest, ForgettingTheTargetFallsBackToTheNewestAndRestartsTheReceiver) {
  pair({phone("Old", kKeyA, 100), phone("New", kKeyB, 200), phone("Newest", kKeyC, 300)});
  prefs.setDisplayName(QStringLiteral("Mine"), q(kKeyA));
  AppState state(prefs, storage());
  state.setLastSelectedPeerPubkey(q(kKeyA));
  std::vector<std::string> calls;
  state.requestStopReceiver = [&] { calls.push_back("stop"); };
  state.requestStartReceiver = [&] {
    calls.push_back("start " + std::to_string(state.peers().size()));
  };
  state.queueUnpairNotice = [&](const PeerRecord& peer) {
    // Told before anything is removed.
    calls.push_back("tell " + peer.peer_hostname + " " +
                    std::to_string(store.loadBook().peers.size()));
  };
  int selectionNotices = 0;
  QObject::connect(&state, &AppState::selectedPeerChanged, [&] { ++selectionNotices; });

  state.forget(*state.selectedPeer(), true);
  EXPECT_EQ(calls, (std::vector<std::string>{"tell Old 3", "stop", "start 2"}));
  EXPECT_EQ(namesOf(store.loadBook().peers), (std::vector<std::string>{"New", "Newest"}));
  EXPECT_FALSE(prefs.displayNames().contains(q(kKeyA)));
  EXPECT_EQ(state.selectedPeer()->peer_hostname, "Newest");
  EXPECT_EQ(selectionNotices, 1);
  EXPECT_EQ(sharedPeers()[0]["hostname"], "Newest");

  state.forget(phone("New", kKeyB, 200), false);
  state.forget(phone("Newest", kKeyC, 300), false);
  EXPECT_EQ(state.defaultOutboundPeerPubkey(), u"");
  EXPECT_FALSE(state.selectedPeer());
  EXPECT_EQ(sharedPeers(), json::Value::array());
  EXPECT_EQ(calls.size(), 7u);
}

TEST_F(AppStateTest, DamagedPeerFileShowsItsErrorAndForgettingChangesNothing) {
  writeText(dir / "state" / "peer.json", "{not json");
  AppState state(prefs, storage());
  EXPECT_TRUE(state.peers().empty());
  ASSERT_TRUE(state.lastError());
  EXPECT_TRUE(state.lastError()->startsWith(u"PeerRecord decode failed"))
      << state.lastError()->toStdString();

  prefs.setDisplayName(QStringLiteral("Mine"), q(kKeyA));
  bool restarted = false;
  state.requestStartReceiver = [&] { restarted = true; };
  state.forget(phone("Old", kKeyA, 100), false);
  EXPECT_TRUE(state.lastError()->startsWith(u"forget peer: PeerRecord decode failed"))
      << state.lastError()->toStdString();
  EXPECT_FALSE(restarted);
  EXPECT_TRUE(prefs.displayNames().contains(q(kKeyA)));

  // Paired again from the command line: the next reload shows it and clears the error.
  pair({phone("Pixel", kKeyA, 100)});
  state.reloadPeers();
  EXPECT_EQ(namesOf(state.peers()), std::vector<std::string>{"Pixel"});
  EXPECT_FALSE(state.lastError());
}

TEST_F(AppStateTest, EndpointsAndNamesResolveToPhones) {
  const std::pair<const char*, const char*> hosts[] = {{"[fe80::1%en0]:5000", "fe80::1%en0"},
                                                       {"192.168.1.20:5000", "192.168.1.20"},
                                                       {"fe80::1:2", "fe80::1:2"},
                                                       {"pixel", "pixel"},
                                                       {"[fe80::1:5000", "[fe80::1:5000"},
                                                       {"[::1]", "::1"}};
  for (const auto& [endpoint, host] : hosts) {
    EXPECT_EQ(AppState::host(QString::fromLatin1(endpoint)), QString::fromLatin1(host)) << endpoint;
  }

  AppState none(prefs, storage());
  EXPECT_EQ(none.peerName(QStringLiteral("10.0.0.9:1")), u"your phone");

  pair({phone("Pixel", kKeyA, 100, "192.168.1.20")});
  AppState one(prefs, storage());
  EXPECT_EQ(one.peerName(QStringLiteral("10.0.0.9:1")), u"Pixel");

  pair({phone("Pixel", kKeyA, 100, "192.168.1.20"), phone("Tab", kKeyB, 200, "192.168.1.30")});
  prefs.setDisplayName(QStringLiteral("Work"), q(kKeyA));
  AppState two(prefs, storage());
  EXPECT_EQ(two.peerName(QStringLiteral("192.168.1.20:40000")), u"Work");
  EXPECT_EQ(two.peerName(QStringLiteral("10.0.0.9:1")), u"your phone");

  EXPECT_EQ(two.currentName(QStringLiteral("Old name"), q(kKeyB)), u"Tab");
  EXPECT_EQ(two.currentName(QStringLiteral("Pixel"), std::nullopt), u"Work");
  EXPECT_EQ(two.currentName(QStringLiteral("Work"), q(kKeyC)), u"Work");
  EXPECT_EQ(two.currentName(QStringLiteral("Gone"), q(kKeyC)), u"Gone");
}

FileLog row(const std::filesystem::path& file, std::int64_t bytes) {
  return FileLog{.id = QUuid::createUuid(),
                 .url = file,
                 .bytes = bytes,
                 .date = QDateTime::fromMSecsSinceEpoch(1733480000250, Qt::UTC),
                 .direction = FileLog::Direction::sent,
                 .peerName = QStringLiteral("Pixel"),
                 .peerPubkey = q(kKeyA)};
}

TEST_F(AppStateTest, RecentFilesKeepTheNewestFiftyAndComeBackAfterARestart) {
  std::filesystem::path file = dir / "report.pdf";
  writeText(file, "pdf");
  {
    AppState state(prefs, storage());
    for (int i = 1; i <= 51; ++i) state.recordFile(row(file, i));
    ASSERT_EQ(state.recentFiles().size(), 50u);
    EXPECT_EQ(state.recentFiles().front().bytes, 51);
    EXPECT_EQ(state.recentFiles().back().bytes, 2);
  }
  // The state's queue finished its saves before it went.
  AppState restarted(prefs, storage());
  ASSERT_TRUE(processEventsUntil([&] { return restarted.recentFiles().size() == 50; }));
  FileLog newest = restarted.recentFiles().front();
  FileLog expected = row(file, 51);
  expected.id = newest.id;
  EXPECT_EQ(newest, expected);
  EXPECT_FALSE(restarted.lastError());

  // A file recorded while the list is still loading stays in front of the loaded rows; rows
  // whose files are gone are dropped.
  std::filesystem::path photo = dir / "photo.jpg";
  writeText(photo, "jpg");
  std::filesystem::remove(file);
  {
    AppState state(prefs, storage());
    state.recordFile(row(photo, 7));
    state.recordFile(row(photo, 8));
  }
  AppState loading(prefs, storage());
  loading.recordFile(row(photo, 9));
  ASSERT_TRUE(processEventsUntil([&] { return loading.recentFiles().size() == 3; }));
  std::vector<std::int64_t> sizes;
  for (const FileLog& entry : loading.recentFiles()) sizes.push_back(entry.bytes);
  EXPECT_EQ(sizes, (std::vector<std::int64_t>{9, 8, 7}));
}

TEST_F(AppStateTest, DamagedListsAreSetAsideAndSaidOnce) {
  writeText(dir / "state" / "recent-files.json", "{\"path\":1}");
  writeText(dir / "Ferrytide.conf", "[General\n");
  Preferences damagedPrefs(QString::fromStdString((dir / "Ferrytide.conf").string()));
  AppState state(damagedPrefs, storage());
  std::vector<QString> errors;
  QObject::connect(&state, &AppState::lastErrorChanged, [&](const std::optional<QString>& error) {
    if (error) errors.push_back(*error);
  });
  ASSERT_TRUE(state.lastError());
  EXPECT_TRUE(state.lastError()->startsWith(u"settings unreadable"))
      << state.lastError()->toStdString();
  ASSERT_TRUE(processEventsUntil([&] { return !errors.empty(); }));
  EXPECT_TRUE(errors.front().startsWith(u"recent files unreadable: "))
      << errors.front().toStdString();
  EXPECT_TRUE(std::filesystem::exists(dir / "state" / "recent-files.json.damaged"));
  state.reloadPeers();
  EXPECT_FALSE(state.lastError());
}

}  // namespace
}  // namespace ferrytide::menu
