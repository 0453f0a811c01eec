#include "menu/services/clipboard_service.h"

#include <gtest/gtest.h>

#include "menu/service_parts.h"

namespace ferrytide::menu {
namespace {

using testing::processEventsUntil;

// `count` user-perceived characters of two UTF-16 units each: an e with a combining acute.
QString accented(int count) { return QString::fromUtf8("e\xCC\x81").repeated(count); }

class ClipboardServiceTest : public ::testing::Test, protected testing::ClipboardParts {
 protected:
  void SetUp() override { ASSERT_TRUE(serverStarted); }

  // The error's text, or empty for success.
  std::string send(const QString& text, const PeerRecord& peer) {
    std::optional<std::exception_ptr> result;
    clipboard.send(text, peer, QStringLiteral("Pixel"), [&](std::exception_ptr e) { result = e; });
    EXPECT_TRUE(processEventsUntil([&] { return result.has_value(); }));
    return result ? testing::failureText(*result) : std::string();
  }
};

TEST_F(ClipboardServiceTest, SendsUpToTheLimitToThePhoneAndRecordsWhatWentOut) {
  testing::LoopbackPhone phone(computerKey());
  EXPECT_EQ(send({}, phone.record()), "There's nothing to send.");
  EXPECT_EQ(send(accented(100'001), phone.record()), "That's too much text to send at once.");
  PeerRecord away = phone.record();
  away.peer_port = testing::freeLoopbackPort();
  EXPECT_NE(send(u"hello"_qs, away), "");
  EXPECT_TRUE(history.clips().empty()) << "refused and failed sends are not recorded";

  QString longest = accented(100'000);
  ASSERT_EQ(send(longest, phone.record()), "");
  ASSERT_TRUE(processEventsUntil([&] { return phone.outcomes().size() == 1; }));
  EXPECT_EQ(std::get<outcome::Clipboard>(phone.outcomes().front()).text, longest.toStdString());
  ASSERT_EQ(history.clips().size(), 1u);
  const Clip& sent = history.clips().front();
  EXPECT_EQ(sent.text, longest);
  EXPECT_EQ(sent.direction, Clip::Direction::outgoing);
  EXPECT_EQ(sent.peerName, u"Pixel");
  EXPECT_EQ(sent.peerPubkey, QString::fromStdString(phone.record().peer_pubkey));
}

TEST_F(ClipboardServiceTest, ReceivedTextIsCutCopiedWhenWantedAndEmptyTextOnlyAnnounced) {
  std::vector<std::pair<QString, bool>> incoming;
  clipboard.onIncoming = [&](const Clip& clip, bool copied) {
    incoming.emplace_back(clip.text, copied);
  };
  clipboard.receive(QString(150'000, QLatin1Char('b')), u"Pixel"_qs, u"KEY"_qs);
  ASSERT_EQ(pasteboard.written.size(), 1u);
  EXPECT_EQ(pasteboard.written.back(), std::string(100'000, 'b'));
  ASSERT_EQ(history.clips().size(), 1u);
  EXPECT_EQ(history.clips().front().text.size(), 100'000);

  prefs.setCopyReceivedText(false);
  clipboard.receive(u"second"_qs, u"Galaxy"_qs, std::nullopt);
  clipboard.receive(QString(), u"Galaxy"_qs, std::nullopt);
  prefs.setCopyReceivedText(true);
  clipboard.clipboardAvailable = false;
  clipboard.receive(u"no display"_qs, u"Galaxy"_qs, std::nullopt);
  clipboard.clipboardAvailable = true;
  clipboard.receive(u"third"_qs, u"Galaxy"_qs, std::nullopt);
  EXPECT_EQ(pasteboard.written.size(), 2u) << "copying was turned off, then there was no clipboard";
  ASSERT_EQ(history.clips().size(), 4u) << "an empty text is not kept";
  EXPECT_EQ(history.clips().front().text, u"third");
  EXPECT_EQ(history.clips().front().direction, Clip::Direction::incoming);
  EXPECT_EQ(history.clips().front().peerPubkey, std::nullopt);

  ASSERT_EQ(incoming.size(), 5u);
  EXPECT_EQ(incoming[0], std::pair(QString(100'000, QLatin1Char('b')), true));
  EXPECT_EQ(incoming[2], std::pair(QString(), false)) << "an empty text is still handed on";
  EXPECT_EQ(incoming[3], std::pair(u"no display"_qs, false));
  ASSERT_TRUE(processEventsUntil([&] { return server.calls().size() == 5; }));
  EXPECT_EQ(server.calls()[0].summary, u"Copied from Pixel");
  EXPECT_EQ(server.calls()[2].summary, u"Text from Galaxy") << "and still announced";
  EXPECT_EQ(server.calls()[3].summary, u"Text from Galaxy");
}

}  // namespace
}  // namespace ferrytide::menu
