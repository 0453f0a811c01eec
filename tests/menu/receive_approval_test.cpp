#include "menu/services/receive_approval.h"

#include <gtest/gtest.h>

#include "menu/qt_wait.h"
#include "menu/services/notification_approval_prompt.h"
#include "support/fake_notification_server.h"
#include "support/temp_dir.h"

namespace ferrytide::menu {
namespace {

using namespace std::chrono_literals;
using testing::FakeNotificationServer;
using testing::processEventsUntil;
using testing::TempDir;

const QString kPixel = QStringLiteral("PIXEL-KEY");
const QString kGalaxy = QStringLiteral("GALAXY-KEY");

// The questions go to the fake notification server on the private bus; the test answers them
// as a user would, through the notice's actions.
class ReceiveApprovalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start()) << "no private session bus";
    prefs.setAskBeforeReceiving(true);
  }
  void TearDown() override { server.stop(); }

  std::optional<bool>& offer(const QString& key, const QString& name, std::int64_t size = 1500) {
    answers.emplace_back();
    std::optional<bool>& slot = answers.back();
    approval.ask(key, name, QStringLiteral("IMG_1.jpg"), size, [&slot](bool yes) { slot = yes; });
    return slot;
  }
  // The notice now on screen, once the server has it.
  const FakeNotificationServer::Call& shown(std::size_t count) {
    EXPECT_TRUE(processEventsUntil([&] { return server.calls().size() >= count; }));
    return server.calls().at(count - 1);
  }
  void click(std::size_t count, const char* action) {
    server.click(shown(count).id, QString::fromLatin1(action));
  }
  static bool answered(const std::optional<bool>& slot) {
    return processEventsUntil([&] { return slot.has_value(); });
  }

  TempDir dir;
  FakeNotificationServer server;
  Preferences prefs{QString::fromStdString((dir / "Ferrytide.conf").string())};
  platform::DesktopNotifications notices;
  NotificationApprovalPrompt prompt{notices};
  QDateTime now = QDateTime::fromSecsSinceEpoch(1733480000, Qt::UTC);
  ReceiveApproval approval{prefs, prompt, {.askWindow = 10s, .trustWindow = 120s},
                           [this] { return now; }};
  std::deque<std::optional<bool>> answers;
};

TEST_F(ReceiveApprovalTest, WithoutAskingEveryOfferIsAcceptedAtOnce) {
  prefs.setAskBeforeReceiving(false);
  EXPECT_EQ(offer(kPixel, QStringLiteral("Pixel")), true);
  QCoreApplication::processEvents();
  EXPECT_TRUE(server.calls().empty());
}

TEST_F(ReceiveApprovalTest, OneQuestionAnswersEveryOfferOfThatPhoneAndTrustLastsTwoMinutes) {
  std::optional<bool>& first = offer(kPixel, QStringLiteral("Pixel"));
  std::optional<bool>& second = offer(kPixel, QStringLiteral("Pixel"), 0);
  const FakeNotificationServer::Call& question = shown(1);
  EXPECT_EQ(question.summary, u"Pixel wants to send");
  EXPECT_EQ(question.body, u"IMG_1.jpg\n1.5 kB");
  EXPECT_EQ(question.actions,
            QStringList({u"decline"_qs, u"Decline"_qs, u"accept"_qs, u"Accept"_qs}));
  click(1, "accept");
  ASSERT_TRUE(answered(first) && answered(second));
  EXPECT_TRUE(*first && *second);
  EXPECT_EQ(server.calls().size(), 1u) << "the second offer joined the first question";
  EXPECT_TRUE(processEventsUntil([&] { return server.closedByClient().size() == 1; }))
      << "the answered notice is taken away";

  now = now.addSecs(119);
  EXPECT_EQ(offer(kPixel, QStringLiteral("Pixel")), true);
  now = now.addSecs(2);
  std::optional<bool>& afterTrust = offer(kPixel, QStringLiteral("Pixel"), 0);
  EXPECT_EQ(shown(2).body, u"IMG_1.jpg") << "an empty file has no size line";
  click(2, "decline");
  ASSERT_TRUE(answered(afterTrust));
  EXPECT_FALSE(*afterTrust);
}

TEST_F(ReceiveApprovalTest, AnotherPhoneWaitsForTheQuestionOnScreenThenGetsItsOwn) {
  std::optional<bool>& pixel = offer(kPixel, QStringLiteral("Pixel"));
  std::optional<bool>& galaxy = offer(kGalaxy, QStringLiteral("Galaxy"));
  shown(1);
  QCoreApplication::processEvents();
  EXPECT_EQ(server.calls().size(), 1u);
  EXPECT_FALSE(galaxy.has_value());

  click(1, "decline");
  ASSERT_TRUE(answered(pixel));
  EXPECT_FALSE(*pixel);
  EXPECT_EQ(shown(2).summary, u"Galaxy wants to send");
  // Dismissing the notice is no answer, and no answer declines.
  server.close(shown(2).id);
  ASSERT_TRUE(answered(galaxy));
  EXPECT_FALSE(*galaxy);
  EXPECT_FALSE(approval.prompting());
}

TEST_F(ReceiveApprovalTest, UnansweredQuestionDeclinesAfterTheAskWindowAndLateClicksDoNothing) {
  ReceiveApproval quick{prefs, prompt, {.askWindow = 100ms, .trustWindow = 120s}};
  std::optional<bool> answer;
  quick.ask(kPixel, QStringLiteral("Pixel"), QStringLiteral("a.txt"), 3,
            [&](bool yes) { answer = yes; });
  uint id = shown(1).id;
  ASSERT_TRUE(answered(answer));
  EXPECT_FALSE(*answer);
  EXPECT_TRUE(processEventsUntil([&] { return server.closedByClient() == std::vector<uint>{id}; }));

  server.click(id, QStringLiteral("accept"));
  std::optional<bool> next;
  quick.ask(kPixel, QStringLiteral("Pixel"), QStringLiteral("b.txt"), 3,
            [&](bool yes) { next = yes; });
  shown(2);
  EXPECT_FALSE(next.has_value()) << "the late accept neither answered nor trusted the phone";
}

TEST_F(ReceiveApprovalTest, WithoutNotificationServerTheOfferIsDeclined) {
  server.stop();
  std::optional<bool>& answer = offer(kPixel, QStringLiteral("Pixel"));
  ASSERT_TRUE(answered(answer));
  EXPECT_FALSE(*answer);
}

}  // namespace
}  // namespace ferrytide::menu
