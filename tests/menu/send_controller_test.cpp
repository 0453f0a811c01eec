#include "menu/controllers/send_controller.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <atomic>
#include <fstream>
#include <thread>

#include "menu/app_parts.h"
#include "menu/qt_wait.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackPhone;
using testing::processEventsUntil;
using Result = SendOutcome::Result;
using SteadyClock = std::chrono::steady_clock;

constexpr std::int64_t kMiB = 1'048'576;

class SendControllerTest : public ::testing::Test, protected testing::AppParts {
 protected:
  void SetUp() override {
    ASSERT_TRUE(serverStarted);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QObject::connect(&controller, &SendController::phaseChanged,
                     [this](const SendPhase& phase) { phases.push_back(phase); });
    QObject::connect(&controller, &SendController::finished,
                     [this](const SendReport& report) { reports.push_back(report); });
  }

  SendControllerOptions options() {
    SendControllerOptions options;
    options.keyVault = KeyVault(dir / "data");
    options.journalFile = dir / "inflight.json";
    options.file.connect = {.warmConnectTimeout = 300ms,
                            .wakePause = 10ms,
                            .postWakeConnectTimeout = 3s,
                            .postWakeAttemptTimeout = 300ms,
                            .postWakeRetryInterval = 20ms};
    options.file.handshakeTimeout = 3s;
    options.file.closeWait = 3s;
    options.file.wake = [this](std::string token) { return wake(std::move(token)); };
    options.clock = [this] { return clock(); };
    return options;
  }
  std::filesystem::path file(const std::string& name, std::int64_t size) {
    std::filesystem::create_directories(dir / "files");
    std::ofstream(dir / "files" / name, std::ios::binary) << std::string(size, 'f');
    return dir / "files" / name;
  }
  // The report of the send that ends next.
  SendReport finish() {
    const std::size_t before = reports.size();
    EXPECT_TRUE(processEventsUntil([&] { return reports.size() > before; }));
    return reports.size() > before ? reports.back() : SendReport{};
  }
  // The phone whose token is "pixel-token" starts listening when it is woken.
  asio::awaitable<void> wake(std::string token) {
    if (token != "pixel-token") throw SendError::network("no answer from FCM");
    woken = std::make_unique<LoopbackPhone>(computerKey(), pixelAddress);
    co_return;
  }

  std::function<SteadyClock::time_point()> clock = &SteadyClock::now;
  SendController controller{appState, sync, notifier, runtime, options()};

  // Where the sleeping phone listens once woken.
  LoopbackPhone::Options pixelAddress{.port = testing::freeLoopbackPort()};
  std::unique_ptr<LoopbackPhone> woken;
  std::vector<SendPhase> phases;
  std::vector<SendReport> reports;
};

TEST_F(SendControllerTest, UnreachedPhonesShareOneSummaryAndRemovalsGoToPeerSync) {
  PeerRecord away = LoopbackPhone::unreachable("Away");
  away.peer_fcm_token = "away-token";
  LoopbackPhone forgetful(computerKey(), {.forgotComputer = true});
  PeerRecord pixel = LoopbackPhone::recordOf(pixelAddress.key, pixelAddress.port, "Pixel");
  pixel.peer_fcm_token = "pixel-token";
  PeerRecord galaxy = LoopbackPhone::unreachable("Galaxy");
  galaxy.self_pubkey = testing::kKeyA;  // paired with an earlier key of this computer
  std::vector<PeerRecord> phones{pair(away), pair(forgetful.record("Old")), pair(pixel),
                                 pair(galaxy)};
  std::vector<std::filesystem::path> files{file("a.txt", 10), file("b.txt", 20)};

  ASSERT_TRUE(controller.send(files, phones));
  EXPECT_FALSE(controller.send(files, phones)) << "one send at a time";
  SendReport report = finish();

  EXPECT_EQ(controller.phase(),
            SendPhase(SendPhase::Failed{
                u"Couldn't reach Away and Galaxy. Check that they're on the same Wi-Fi."_qs,
                u"Away"_qs}));
  EXPECT_TRUE(std::any_of(phases.begin(), phases.end(), [](const SendPhase& phase) {
    const auto* waking = std::get_if<SendPhase::Waking>(&phase.state);
    return waking && waking->peerName == u"Pixel";
  })) << "the sleeping phone was woken";
  ASSERT_EQ(report.phones.size(), 4u);
  EXPECT_EQ(report.phones[0].result, Result::unreached);
  EXPECT_EQ(report.phones[0].remaining, files);
  EXPECT_EQ(report.phones[1].result, Result::removed);
  EXPECT_EQ(report.phones[2].result, Result::sent);
  ASSERT_EQ(report.phones[2].sent.size(), 2u);
  EXPECT_EQ(report.phones[2].sent[1].bytesSent, 20);
  EXPECT_EQ(report.phones[3].result, Result::unreached);
  EXPECT_NE(report.phones[3].error.indexOf(u"earlier key"_qs), -1);

  ASSERT_EQ(appState.peers().size(), 3u) << "peer sync forgot the phone that removed us";
  ASSERT_EQ(appState.recentFiles().size(), 2u);
  EXPECT_EQ(appState.recentFiles().front().url, files[1]);
  EXPECT_EQ(appState.recentFiles().front().direction, FileLog::Direction::sent);
  EXPECT_EQ(appState.recentFiles().front().peerName, u"Pixel");
  ASSERT_TRUE(processEventsUntil([&] { return server.calls().size() == 3; }));
  EXPECT_EQ(server.calls()[0].summary, u"Old removed this computer");
  EXPECT_EQ(server.calls()[1].summary, u"Couldn't reach Away");
  EXPECT_EQ(server.calls()[2].summary, u"Couldn't reach Galaxy");

  server.click(server.calls()[1].id, QStringLiteral("retry"));
  ASSERT_EQ(finish().phones.size(), 1u) << "the retry is for that phone alone";
  EXPECT_EQ(controller.phase(),
            SendPhase(SendPhase::Failed{
                u"Couldn't reach Away. Check that it's on the same Wi-Fi."_qs, u"Away"_qs}));
}

TEST_F(SendControllerTest, CancelledSendEndsQuietlyAndResumesFromThePhonesPartialCopy) {
  // The sender stops after its second chunk until the test has cancelled.
  std::atomic<int> calls = 0;
  std::atomic<bool> paused = false;
  std::atomic<bool> cancelled = false;
  clock = [&] {
    if (++calls == 3) {
      paused = true;
      const auto limit = SteadyClock::now() + 10s;
      while (!cancelled && SteadyClock::now() < limit) std::this_thread::yield();
    }
    return SteadyClock::now();
  };
  LoopbackPhone phone(computerKey());
  PeerRecord pixel = pair(phone.record());
  std::vector<std::filesystem::path> files{file("big.bin", 6 * kMiB), file("small.txt", 5)};

  ASSERT_TRUE(controller.send(files, {pixel}));
  ASSERT_TRUE(processEventsUntil([&] { return paused.load(); }));
  controller.cancel();
  cancelled = true;
  SendReport report = finish();
  EXPECT_EQ(controller.phase(), SendPhase(SendPhase::Idle{}));
  EXPECT_TRUE(report.cancelled);
  ASSERT_EQ(report.phones.size(), 1u);
  EXPECT_EQ(report.phones[0].result, Result::cancelled);
  EXPECT_EQ(report.phones[0].remaining, files) << "the small file was not tried";
  EXPECT_TRUE(appState.recentFiles().empty());
  notifier.message(u"after the cancel"_qs, {});
  ASSERT_TRUE(processEventsUntil([&] { return !server.calls().empty(); }));
  EXPECT_EQ(server.calls().front().summary, u"after the cancel") << "no failure notice";

  ASSERT_TRUE(controller.send(files, {pixel}));
  report = finish();
  ASSERT_EQ(report.phones.size(), 1u);
  ASSERT_EQ(report.phones[0].sent.size(), 2u) << report.phones[0].error.toStdString();
  const SentFile& resumed = report.phones[0].sent[0];
  EXPECT_GT(resumed.resumedFromOffset, 0);
  EXPECT_LT(resumed.resumedFromOffset, 6 * kMiB);
  EXPECT_EQ(resumed.bytesSent, 6 * kMiB);
  const auto* done = std::get_if<SendPhase::Done>(&controller.phase().state);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->filesSent, 2);
  EXPECT_EQ(done->peerName, u"Pixel");
}

TEST_F(SendControllerTest, JobProgressIsThrottledAndEndsInOneReportPerKey) {
  // Progress reports 10 ms apart: one in seven gets through, and each file's last.
  std::atomic<int> calls = 0;
  const SteadyClock::time_point start = SteadyClock::now();
  clock = [&] { return start + ++calls * 10ms; };
  LoopbackPhone phone(computerKey());
  PeerRecord pixel = pair(phone.record());
  std::vector<std::filesystem::path> files{file("video.mp4", 8 * kMiB)};
  const QString pixelPubkey = QString::fromStdString(pixel.peer_pubkey);
  const QString unknownKey = QString::fromStdString(testing::kKeyB);
  EXPECT_EQ(controller.sendJob(files, {unknownKey}, {}), SendController::JobStart::nothingToSend);

  std::optional<SendReport> report;
  ASSERT_EQ(controller.sendJob(files, {pixelPubkey, unknownKey},
                               [&](const SendReport& r) { report = r; }),
            SendController::JobStart::started);
  EXPECT_EQ(controller.sendJob(files, {pixelPubkey}, {}), SendController::JobStart::busy);
  EXPECT_FALSE(controller.mirrorStart());
  ASSERT_TRUE(processEventsUntil([&] { return report.has_value(); }));

  std::vector<std::int64_t> updates;
  for (const SendPhase& phase : phases) {
    const SendPhase::Progress* progress = phase.progress();
    if (progress && progress->bytesDone > 0) updates.push_back(progress->bytesDone);
  }
  EXPECT_EQ(calls, 9) << "the offset, then eight chunks";
  EXPECT_LE(updates.size(), 2u) << "at most one update per 1/15 s of 90 ms, and the last";
  ASSERT_FALSE(updates.empty());
  EXPECT_EQ(updates.back(), 8 * kMiB);
  ASSERT_EQ(report->phones.size(), 2u);
  EXPECT_EQ(report->phones[0].result, Result::sent);
  EXPECT_EQ(report->phones[1].result, Result::notPaired);
  EXPECT_EQ(report->phones[1].peerPubkey, unknownKey);
  const auto* done = std::get_if<SendPhase::Done>(&controller.phase().state);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->totalBytes, 8 * kMiB);

  // The outbox's own sends, mirrored: the bar never moves back, and nothing else is sent.
  ASSERT_TRUE(controller.mirrorStart());
  controller.mirrorProgress(u"Pixel"_qs, {1, 1, 500, 900}, false);
  controller.mirrorProgress(u"Pixel"_qs, {1, 1, 400, 900}, false);
  EXPECT_EQ(controller.phase().progress()->bytesDone, 500);
  EXPECT_FALSE(controller.send(files, {pixel}));
  controller.mirrorEnd(SendPhase::Done{1, 900, 1.0, u"Pixel"_qs});
  EXPECT_FALSE(controller.busy());
}

}  // namespace
}  // namespace ferrytide::menu
