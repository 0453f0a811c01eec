#include "menu/services/peer_sync.h"

#include <gtest/gtest.h>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "menu/app_parts.h"
#include "menu/qt_wait.h"

namespace ferrytide::menu {
namespace {

using testing::LoopbackPhone;
using testing::processEventsUntil;

bool heardUnpair(const LoopbackPhone& phone) {
  return processEventsUntil([&] {
    std::vector<ProcessOutcome> outcomes = phone.outcomes();
    return outcomes.size() == 1 && std::holds_alternative<outcome::Unpair>(outcomes.front());
  });
}

QString keyOf(const PeerRecord& peer) { return QString::fromStdString(peer.peer_pubkey); }

class PeerSyncTest : public ::testing::Test, protected testing::AppParts {
 protected:
  void SetUp() override { ASSERT_TRUE(serverStarted); }

  std::set<QString> pendingKeys() const {
    std::set<QString> keys;
    for (const auto& [key, record] : prefs.pendingUnpairs()) keys.insert(key);
    return keys;
  }
  bool settled() {
    return processEventsUntil([&] { return !sync.flushing(); });
  }
};

TEST_F(PeerSyncTest, NoticeWaitsForAnUnreachablePhoneAndIsDeliveredOnceItIsBack) {
  const LoopbackPhone::Options phone{.port = testing::freeLoopbackPort()};
  PeerRecord away = pair(LoopbackPhone::recordOf(phone.key, phone.port, "Away"));
  appState.forget(appState.peers().front(), /*tellPeer=*/true);
  ASSERT_TRUE(settled());
  EXPECT_TRUE(appState.peers().empty());
  EXPECT_EQ(pendingKeys(), std::set{keyOf(away)});

  LoopbackPhone back(computerKey(), phone);
  sync.flush();
  ASSERT_TRUE(settled());
  EXPECT_TRUE(pendingKeys().empty());
  EXPECT_TRUE(heardUnpair(back));
}

TEST_F(PeerSyncTest, NoticesQueuedDuringAFlushFollowItAndAnUnpairAnswerCountsAsDone) {
  LoopbackPhone pixel(computerKey());
  LoopbackPhone galaxy(computerKey(), {.forgotComputer = true});
  sync.queueUnpair(pixel.record("Pixel"));
  ASSERT_TRUE(sync.flushing());
  sync.queueUnpair(galaxy.record("Galaxy"));
  ASSERT_TRUE(settled());
  EXPECT_TRUE(pendingKeys().empty());
  EXPECT_TRUE(heardUnpair(pixel));

  // Paired again after it was forgotten: its old notice must not undo the new pairing.
  LoopbackPhone again(computerKey());
  pair(again.record("Again"));
  sync.queueUnpair(again.record("Again"));
  ASSERT_TRUE(settled());
  EXPECT_TRUE(pendingKeys().empty());
  EXPECT_TRUE(again.outcomes().empty());
  EXPECT_EQ(appState.peers().size(), 1u);
}

TEST_F(PeerSyncTest, PhoneThatForgotThisComputerIsForgottenHereAndTheUserTold) {
  PeerRecord pixel = testing::phoneRecord("Pixel", testing::kKeyA);
  pair(pixel);
  EXPECT_FALSE(sync.noteSendError(std::make_exception_ptr(SendError::network("down")), pixel));
  EXPECT_TRUE(sync.noteSendError(std::make_exception_ptr(SendError::declined()), pixel));
  EXPECT_EQ(appState.peers().size(), 1u);
  EXPECT_TRUE(sync.noteSendError(std::make_exception_ptr(SendError::peerRemoved()), pixel));
  EXPECT_TRUE(appState.peers().empty());
  ASSERT_TRUE(processEventsUntil([&] { return server.calls().size() == 2; }));
  EXPECT_EQ(server.calls()[0].summary, u"Pixel declined");
  EXPECT_EQ(server.calls()[0].body, u"The file wasn't sent.");
  EXPECT_EQ(server.calls()[1].summary, u"Pixel removed this computer");
  EXPECT_EQ(server.calls()[1].body, u"Pair it again to send to it.");

  pair(testing::phoneRecord("Galaxy", testing::kKeyB));
  sync.handle(outcome::Unpair{testing::kKeyB});
  EXPECT_TRUE(appState.peers().empty());
  EXPECT_TRUE(pendingKeys().empty()) << "a phone that left by itself is not sent a notice";

  // The receiver told this phone already, before the flush reached it.
  PeerRecord gone = LoopbackPhone::unreachable("Gone");
  sync.queueUnpair(gone);
  sync.handle(outcome::UnpairReplied{gone.peer_pubkey});
  ASSERT_TRUE(settled());
  EXPECT_TRUE(pendingKeys().empty());
}

TEST_F(PeerSyncTest, RenamesAreTidied) {
  sync.renameSelf(QString::fromUtf8("  Studio   Desk\t\n top\u00a0 "));
  EXPECT_EQ(prefs.deviceName(), u"Studio Desk top");
  sync.renameSelf(QStringLiteral(" \t "));
  EXPECT_EQ(prefs.deviceName(), u"Studio Desk top");
  sync.renameSelf(QString(60, QLatin1Char('x')));
  EXPECT_EQ(prefs.deviceName(), QString(40, QLatin1Char('x')));

  PeerRecord pixel = testing::phoneRecord("Pixel", testing::kKeyB);
  sync.renamePeer(pixel, QStringLiteral("Work phone"));
  EXPECT_EQ(prefs.displayNames().value(keyOf(pixel)), u"Work phone");
  sync.renamePeer(pixel, QStringLiteral("Pixel"));
  EXPECT_FALSE(prefs.displayNames().contains(keyOf(pixel)));
}

TEST_F(PeerSyncTest, CommandLineQueueIsTakenOverThenDelivered) {
  PeerRecord here = LoopbackPhone::unreachable("Here");
  sync.queueUnpair(here);
  ASSERT_TRUE(settled());

  LoopbackPhone phone(computerKey());
  PeerRecord fromTool = here;
  fromTool.peer_hostname = "From the tool";
  json::Value queued = {{here.peer_pubkey, fromTool.toJson()},
                        {phone.record().peer_pubkey, phone.record().toJson()}};
  std::filesystem::path file = dir / "pending-unpairs.json";
  file_io::writeAtomically(file, asBytes(json::encodeCompact(queued)));
  sync.adoptCommandLineQueue(file);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(pendingKeys(), (std::set{keyOf(here), keyOf(phone.record())}));
  QByteArray kept = prefs.pendingUnpairs().at(keyOf(here));
  EXPECT_EQ(PeerRecord::fromJson(json::parse(kept.toStdString())), here)
      << "a notice queued here stays as it is";

  sync.flush();
  ASSERT_TRUE(settled());
  EXPECT_EQ(pendingKeys(), std::set{keyOf(here)});
  EXPECT_TRUE(heardUnpair(phone));

  file_io::writeAtomically(file, asBytes("{\"q83v\": {\"peer_pubkey\": 7}"));
  sync.adoptCommandLineQueue(file);
  EXPECT_TRUE(std::filesystem::exists(file)) << "a damaged queue is left for a person to look at";
  EXPECT_EQ(pendingKeys(), std::set{keyOf(here)});
}

}  // namespace
}  // namespace ferrytide::menu
