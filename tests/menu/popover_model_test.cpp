#include "menu/controllers/popover_model.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <fstream>

#include "menu/service_parts.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackPhone;
using testing::processEventsUntil;
using Status = PopoverModel::ComposeStatus;
using Notice = PopoverModel::Notice;

constexpr auto kDoneDelay = 300ms;

QString path(const std::filesystem::path& file) { return QFile::decodeName(file.c_str()); }

class PopoverModelTest : public ::testing::Test, protected testing::ClipboardParts {
 protected:
  void SetUp() override {
    ASSERT_TRUE(serverStarted);
    clock.start();
    QObject::connect(&model, &PopoverModel::sendPhaseChanged, [this](const SendPhase& phase) {
      phases.emplace_back(phase, clock.elapsed());
    });
  }

  PopoverModelOptions options() {
    PopoverModelOptions options{.send = {}, .doneResetDelay = kDoneDelay};
    options.send.keyVault = network.keyVault;
    options.send.journalFile = dir / "inflight.json";
    return options;
  }
  void pairAsTarget(const PeerRecord& peer) {
    pair(peer);
    appState.setLastSelectedPeerPubkey(QString::fromStdString(peer.peer_pubkey));
  }
  QString file(const std::string& name, const std::string& folder = "files") {
    std::filesystem::create_directories(dir / folder);
    std::ofstream(dir / folder / name) << name;
    return path(dir / folder / name);
  }
  // When (ms on `clock`) the phase next becomes a `Kind`; -1 when it does not within `limit`.
  template <typename Kind>
  qint64 next(std::chrono::milliseconds limit = 10s) {
    const std::size_t from = phases.size();
    qint64 at = -1;
    processEventsUntil(
        [&] {
          for (std::size_t i = from; i < phases.size() && at < 0; ++i) {
            if (std::holds_alternative<Kind>(phases[i].first.state)) at = phases[i].second;
          }
          return at >= 0;
        },
        limit);
    return at;
  }
  Status composeResult() {
    EXPECT_TRUE(processEventsUntil([&] { return model.composeStatus() != Status::sending(); }));
    return model.composeStatus();
  }

  PopoverModel model{appState, clipboard, sync, notifier, runtime, options()};
  QElapsedTimer clock;
  std::vector<std::pair<SendPhase, qint64>> phases;
};

TEST_F(PopoverModelTest, OnlyRegularFilesGoToTheSelectedPhoneAndThePickedFolderIsRemembered) {
  const QString a = file("a.txt");
  EXPECT_FALSE(model.sendFiles({a})) << "no phone is paired";
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  EXPECT_FALSE(model.sendFiles({path(dir / "files")}));
  EXPECT_TRUE(phases.empty());
  ASSERT_TRUE(model.sendFiles({path(dir / "files"), a, file("b.txt")}));
  ASSERT_GE(next<SendPhase::Done>(), 0);
  EXPECT_EQ(std::get<SendPhase::Done>(model.sendPhase().state).filesSent, 2);

  QStringList startFolders;
  QStringList answer{file("c.txt", "picked")};
  model.pickFiles = [&](const QString& start) {
    startFolders << start;
    return std::exchange(answer, {});
  };
  model.chooseFiles();
  ASSERT_GE(next<SendPhase::Done>(), 0);
  model.chooseFiles();
  EXPECT_EQ(startFolders, (QStringList{QString(), path(dir / "picked")}));
  EXPECT_EQ(phone.savedFiles(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(PopoverModelTest, OnlyTheLatestDoneIsResetAndAFailureStaysUntilTheNextSend) {
  pairAsTarget(LoopbackPhone::unreachable("Away"));
  ASSERT_TRUE(model.sendFiles({file("a.txt")}));
  ASSERT_GE(next<SendPhase::Failed>(), 0);
  EXPECT_LT(next<SendPhase::Idle>(kDoneDelay * 2), 0) << "a failure is not reset";

  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  const std::size_t before = phases.size();
  ASSERT_TRUE(model.sendFiles({file("b.txt")}));
  ASSERT_GT(phases.size(), before);
  EXPECT_EQ(phases[before].first, SendPhase(SendPhase::Idle{})) << "the failure was cleared";
  const qint64 firstDone = next<SendPhase::Done>();
  ASSERT_GE(firstDone, 0);

  // A second send finishes while the first one's reset is still pending.
  processEventsUntil([&] { return clock.elapsed() >= firstDone + kDoneDelay.count() / 2; });
  ASSERT_TRUE(std::holds_alternative<SendPhase::Done>(model.sendPhase().state));
  ASSERT_TRUE(model.sendFiles({file("c.txt")}));
  const qint64 secondDone = next<SendPhase::Done>();
  const qint64 idle = next<SendPhase::Idle>();
  ASSERT_GE(idle, 0);
  EXPECT_GE(idle - secondDone, kDoneDelay.count() * 9 / 10)
      << "reset " << idle - firstDone << " ms after the first done";
}

TEST_F(PopoverModelTest, ComposeBoxTakesTheClipboardUnlessTheUserIsWriting) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  const QString accented = QString::fromUtf8("e\xCC\x81");  // one character, two UTF-16 units
  clipboardHolds(accented.repeated(100'001).toStdString());
  model.refreshCompose();
  EXPECT_EQ(model.composeText(), accented.repeated(100'000));

  model.setComposeText(u"draft"_qs);
  clipboardHolds("newer");
  model.refreshCompose();
  EXPECT_EQ(model.composeText(), u"draft") << "the draft is kept";
  model.sendText();
  EXPECT_EQ(composeResult(), Status::sent(u"Pixel"_qs));
  EXPECT_EQ(history.clips().at(0).text, u"draft");
  model.refreshCompose();
  EXPECT_EQ(model.composeText(), u"newer") << "after a sent message the clipboard comes back";
  EXPECT_EQ(model.composeStatus(), Status::ready());

  LoopbackPhone forgetful(computerKey(), {.forgotComputer = true});
  pairAsTarget(forgetful.record("Old"));
  model.sendText();
  EXPECT_EQ(composeResult(),
            Status::failed(u"Old removed this computer. Pair it again to send to it."_qs));
  EXPECT_EQ(appState.peers().size(), 1u) << "peer sync forgot it";
  model.composeEdited();
  EXPECT_EQ(model.composeStatus(), Status::ready());
  pairAsTarget(LoopbackPhone::unreachable("Away"));
  model.sendText();
  EXPECT_EQ(composeResult(),
            Status::failed(u"Couldn't reach Away. Check that it's on the same Wi-Fi."_qs));
  EXPECT_EQ(history.clips().size(), 1u);
}

TEST_F(PopoverModelTest, APasswordIsSentOnlyWhenAskedAndNeverRecorded) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  clipboard.receive(u"see you at 8"_qs, u"Pixel"_qs, std::nullopt);
  EXPECT_EQ(model.noticeText(), u"see you at 8 is on your clipboard");
  clipboardHolds("hunter2", /*concealed=*/true);
  pasteboard.textReads = 0;
  model.refreshCompose();
  EXPECT_EQ(model.notice()->kind, Notice::Kind::textReceived) << "a shown notice stays";
  model.dismissNotice();
  model.refreshCompose();
  EXPECT_EQ(model.notice(), Notice::passwordBlocked());
  EXPECT_EQ(model.composeText(), QString());
  EXPECT_EQ(pasteboard.textReads, 0) << "the secret was not read";

  const std::size_t clips = history.clips().size();
  model.sendAnyway();
  EXPECT_EQ(model.notice(), std::nullopt);
  EXPECT_EQ(composeResult(), Status::sent(u"Pixel"_qs));
  ASSERT_TRUE(processEventsUntil([&] { return !phone.outcomes().empty(); }));
  EXPECT_EQ(std::get<outcome::Clipboard>(phone.outcomes().back()).text, "hunter2");
  EXPECT_EQ(history.clips().size(), clips) << "the password is not in the history";
}

}  // namespace
}  // namespace ferrytide::menu
