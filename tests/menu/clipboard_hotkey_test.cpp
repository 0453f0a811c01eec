#include "menu/controllers/clipboard_hotkey.h"

#include <gtest/gtest.h>

#include "menu/service_parts.h"

namespace ferrytide::menu {
namespace {

using testing::LoopbackPhone;
using testing::processEventsUntil;

class ClipboardHotkeyTest : public ::testing::Test, protected testing::ClipboardParts {
 protected:
  void SetUp() override { ASSERT_TRUE(serverStarted); }

  void press() {
    const std::size_t before = server.calls().size();
    hotkey.sendClipboard();
    ASSERT_TRUE(processEventsUntil([&] { return server.calls().size() > before; }));
  }
  const testing::FakeNotificationServer::Call& last() { return server.calls().back(); }

  bool canCopy = true;
  int copies = 0;
  ClipboardHotkey hotkey{appState, clipboard, sync, notifier, [this] {
                           ++copies;
                           return canCopy;
                         }};
};

TEST_F(ClipboardHotkeyTest, WhatCannotBeSentIsToldAndNothingGoesOut) {
  press();
  EXPECT_EQ(last().summary, u"Nothing to send");
  clipboardHolds("hunter2", true);
  const int reads = pasteboard.textReads;
  press();
  EXPECT_EQ(last().summary, u"Not sent");
  EXPECT_EQ(last().body,
            u"Your clipboard holds a password. Open Ferrytide › Clips to send it anyway.");
  EXPECT_EQ(pasteboard.textReads, reads) << "a concealed clipboard is never read";
  clipboardHolds("hello");
  press();
  EXPECT_EQ(last().summary, u"No phone paired");
  EXPECT_EQ(copies, 3) << "the selection is copied first each time";
  EXPECT_TRUE(history.clips().empty());
}

TEST_F(ClipboardHotkeyTest, SendsTheClipboardToTheSelectedPhoneAndRetriesAnUnreachableOne) {
  const LoopbackPhone::Options pixel{.port = testing::freeLoopbackPort()};
  pair(LoopbackPhone::recordOf(pixel.key, pixel.port, "Pixel"));
  clipboardHolds("meet at 8");
  canCopy = false;
  press();
  EXPECT_EQ(server.calls().front().summary, u"Sending what's on your clipboard");
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"Couldn't reach Pixel"; }));
  ASSERT_TRUE(last().actions.contains(u"retry"_qs));

  // The phone is back at its address: "Try Again" sends the same text once more.
  LoopbackPhone phone(computerKey(), pixel);
  clipboardHolds("something newer");
  server.click(last().id, QStringLiteral("retry"));
  ASSERT_TRUE(processEventsUntil([&] { return last().summary == u"Sent to Pixel"; }));
  EXPECT_EQ(last().body, u"meet at 8");
  // The phone records what it got after it has answered, so the notice can come first.
  ASSERT_TRUE(processEventsUntil([&] { return !phone.outcomes().empty(); }));
  EXPECT_EQ(phone.outcomes().size(), 1u);
  EXPECT_EQ(std::get<outcome::Clipboard>(phone.outcomes().front()).text, "meet at 8");
  ASSERT_EQ(history.clips().size(), 1u);
}

}  // namespace
}  // namespace ferrytide::menu
