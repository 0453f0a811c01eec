#include "menu/controllers/outbox_watcher.h"

#include <gtest/gtest.h>

#include "menu/app_parts.h"
#include "menu/qt_wait.h"

namespace ferrytide::menu {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::LoopbackPhone;
using testing::processEventsUntil;

class OutboxWatcherTest : public ::testing::Test, protected testing::AppParts {
 protected:
  void SetUp() override { ASSERT_TRUE(serverStarted); }

  fs::path share(const std::vector<std::string>& names, std::vector<std::string> targets = {}) {
    std::vector<fs::path> files;
    for (const std::string& name : names) {
      files.push_back(dir / "originals" / name);
      testing::writeText(files.back(), "content of " + name);
    }
    fs::path job = outbox.writeJob(files, targets);
    outbox.postPending();
    return job;
  }
  // Title and body of every notice so far.
  std::vector<std::pair<std::string, std::string>> shown() const {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& call : server.calls()) {
      shown.emplace_back(call.summary.toStdString(), call.body.toStdString());
    }
    return shown;
  }
  OutboxWatcher::Options options() {
    OutboxWatcher::Options chosen{.outbox = outbox,
                                  .keyVault = network.keyVault,
                                  .send = shareSendOptions(),
                                  .scanInterval = 30s,
                                  .journalFile = dir / "inflight.json"};
    chosen.send.wake = network.oneOff.wake;
    return chosen;
  }
  fs::path kept() const { return *outbox.outboxRoot() / ShareOutbox::keptFolderName; }

  ShareOutbox outbox{dir / "group"};  // the one the application state mirrors its phones to
};

TEST_F(OutboxWatcherTest, JobsWaitingAtStartAndOnesSharedDuringAPassAreAllSentInOrder) {
  LoopbackPhone phone(computerKey());
  pair(phone.record("Pixel"));
  share({"a.txt"});
  share({"b.txt", "c.txt"});
  share({"d.txt"});
  OutboxWatcher watcher(appState, notifier, sync, runtime, options());
  int passes = 0;
  int jobs = 0;
  QObject::connect(&watcher, &OutboxWatcher::drained, [&] { ++passes; });
  QObject::connect(&watcher, &OutboxWatcher::jobStarted, [&] {
    if (++jobs == 1) share({"e.txt"});
  });
  watcher.start();
  ASSERT_TRUE(processEventsUntil([&] { return phone.savedFiles().size() == 5; }, 20s))
      << phone.savedFiles().size();
  ASSERT_TRUE(processEventsUntil([&] { return passes == 2 && server.calls().size() == 4; }));
  EXPECT_EQ(shown(),
            (std::vector<std::pair<std::string, std::string>>{{"Sent a.txt to Pixel", ""},
                                                              {"Sent 2 files to Pixel", ""},
                                                              {"Sent d.txt to Pixel", ""},
                                                              {"Sent e.txt to Pixel", ""}}));
  EXPECT_TRUE(outbox.pendingJobs().empty());
  EXPECT_FALSE(fs::exists(kept()));
}

TEST_F(OutboxWatcherTest, JobsThatCannotBeSentAreAnnouncedAndKeptAside) {
  LoopbackPhone phone(computerKey());
  pair(phone.record("Pixel"));
  share({"unknown-phone.txt"},
        {base64::encode(crypto::X25519PrivateKey::generate().publicKey().view())});
  fs::path damaged = share({"damaged.txt"});
  testing::writeText(damaged / ShareOutbox::manifestName, "{\"files\":");
  fs::path vanished = share({"vanished.txt"});
  fs::remove(vanished / "vanished.txt");

  OutboxWatcher watcher(appState, notifier, sync, runtime, options());
  watcher.start();
  ASSERT_TRUE(processEventsUntil([&] { return server.calls().size() == 3; }));
  std::set<std::string> bodies;
  for (const auto& [title, body] : shown()) {
    EXPECT_EQ(title, "Not sent");
    bodies.insert(body);
  }
  EXPECT_EQ(bodies,
            (std::set<std::string>{"No paired phone matched. Pair a phone, then share again.",
                                   "The shared files couldn't be read. Share them again.",
                                   "The shared files were gone before they could be sent."}));
  EXPECT_TRUE(outbox.pendingJobs().empty());
  EXPECT_EQ(testing::entriesIn(kept()), 3u);
  EXPECT_TRUE(phone.savedFiles().empty());
}

TEST_F(OutboxWatcherTest, PhonesThatMissFilesAreNamedAndOneThatForgotThisComputerIsForgotten) {
  LoopbackPhone pixel(computerKey());
  LoopbackPhone galaxy(computerKey(), {.forgotComputer = true});
  pair(pixel.record("Pixel"));
  pair(galaxy.record("Galaxy"));
  PeerRecord away = pair(LoopbackPhone::unreachable("Away"));
  share({"one.txt", "two.txt"},
        {pixel.record().peer_pubkey, galaxy.record().peer_pubkey, away.peer_pubkey});
  std::optional<QString> title;
  QStringList failures;
  SendPhase outcome;
  OutboxWatcher watcher(appState, notifier, sync, runtime, options());
  QObject::connect(
      &watcher, &OutboxWatcher::jobFinished,
      [&](bool, const QString& text, const QStringList& texts, const SendPhase& phase) {
        title = text;
        failures = texts;
        outcome = phase;
      });
  watcher.start();
  ASSERT_TRUE(processEventsUntil([&] { return title.has_value(); }, 20s));
  EXPECT_EQ(title->toStdString(),
            "Shared 2 files: Pixel 2 of 2, Galaxy 0 of 2, Away 0 of 2. Pair Galaxy again to "
            "send to it.");
  EXPECT_EQ(
      failures.join(u'|').toStdString(),
      "Galaxy removed this computer.|Couldn't reach Away. Check that it's on the same Wi-Fi.");
  EXPECT_EQ(outcome, SendPhase(SendPhase::Failed{.message = *title, .peerName = {}}))
      << "the send display shows the summary of a job that missed phones";
  ASSERT_TRUE(processEventsUntil([&] {
    for (const auto& [summary, body] : shown())
      if (summary == title->toStdString()) return true;
    return false;
  })) << "the summary is also a notice";
  EXPECT_EQ(pixel.savedFiles(), (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(appState.peers().size(), 2u) << "the phone that forgot this computer is gone here too";
}

TEST(OutboxSummaryTest, NamesWhatEachPhoneGot) {
  using Result = OutboxWatcher::PhoneResult;
  std::vector<QString> five = {u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs, u"5"_qs};
  EXPECT_EQ(OutboxWatcher::summary(five, {Result{u"Pixel"_qs, 2}}).toStdString(),
            "Sent 2 of 5 files to Pixel. Share the rest again.");
  EXPECT_EQ(OutboxWatcher::summary({u"a.pdf"_qs}, {Result{u"Pixel"_qs, 1}, Result{u"Tab"_qs, 1}})
                .toStdString(),
            "Sent 1 file to Pixel, Tab");
}

}  // namespace
}  // namespace ferrytide::menu
