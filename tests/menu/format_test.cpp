#include "menu/models/format.h"

#include <gtest/gtest.h>

#include "menu/models/hotkey_combo.h"

namespace ferrytide::menu {
namespace {

TEST(FormatTest, PreviewIsTheTrimmedFirstLineOfTheFirst300Characters) {
  EXPECT_EQ(Format::preview(QStringLiteral(" \tHello there \nsecond line")), u"Hello there");
  for (char16_t lineBreak :
       {u'\r', u'\v', u'\f', char16_t(0x85), char16_t(0x2028), char16_t(0x2029)}) {
    EXPECT_EQ(Format::preview(QStringLiteral("one") + QChar(lineBreak) + QStringLiteral("two")),
              u"one");
  }
  EXPECT_EQ(Format::preview(QString(400, u'a')), QString(300, u'a'));
  // A flag is one character of two code points each.
  EXPECT_EQ(Format::preview(QStringLiteral("\U0001F1EB\U0001F1F7").repeated(301)).size(), 300 * 4);
}

TEST(FormatTest, DurationsRoundToSecondsThenMinutes) {
  EXPECT_EQ(Format::duration(0), u"1 second");
  EXPECT_EQ(Format::duration(0.4), u"1 second");
  EXPECT_EQ(Format::duration(1.6), u"2 seconds");
  EXPECT_EQ(Format::duration(59.4), u"59 seconds");
  EXPECT_EQ(Format::duration(59.6), u"1 minute");
  EXPECT_EQ(Format::duration(150), u"3 minutes");
}

TEST(FormatTest, AgoCountsMinutesHoursThenDays) {
  QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(15, 30), Qt::LocalTime);
  EXPECT_EQ(Format::ago(now.addSecs(-59), now), u"just now");
  EXPECT_EQ(Format::ago(now.addSecs(5), now), u"just now");
  EXPECT_EQ(Format::ago(now.addSecs(-60), now), u"1 min ago");
  EXPECT_EQ(Format::ago(now.addSecs(-3599), now), u"59 min ago");
  EXPECT_EQ(Format::ago(now.addSecs(-3600 * 15), now), u"15 h ago");
  EXPECT_EQ(Format::ago(now.addSecs(-3600 * 16), now), u"Yesterday");
  EXPECT_EQ(Format::ago(QDateTime(QDate(2026, 12, 6), QTime(0, 0), Qt::LocalTime), now),
            u"Yesterday");
  EXPECT_EQ(Format::ago(QDateTime(QDate(2026, 12, 5), QTime(23, 59), Qt::LocalTime), now),
            u"5 Dec");
}

TEST(FormatTest, SizesAndRatesUseDecimalUnits) {
  EXPECT_EQ(Format::byteCount(0), u"0 bytes");
  EXPECT_EQ(Format::byteCount(999), u"999 bytes");
  EXPECT_EQ(Format::byteCount(1536), u"1.5 kB");
  EXPECT_EQ(Format::byteCount(5255225), u"5.3 MB");
  EXPECT_EQ(Format::byteCount(1073741824), u"1.1 GB");
  EXPECT_EQ(Format::rate(12400000.0), u"12.4 MB/s");
}

TEST(HotkeyComboTest, KeycapsNameModifiersInOrderThenTheKey) {
  EXPECT_EQ(HotkeyCombo{}.keycaps(), (QStringList{u"Ctrl"_qs, u"Alt"_qs, u"C"_qs}));
  EXPECT_EQ((HotkeyCombo{49, HotkeyCombo::command | HotkeyCombo::shift}.keycaps()),
            (QStringList{u"Shift"_qs, u"Super"_qs, u"Space"_qs}));
  EXPECT_EQ((HotkeyCombo{96, 0x1b00}.keycaps()),
            (QStringList{u"Ctrl"_qs, u"Alt"_qs, u"Shift"_qs, u"Super"_qs, u"F5"_qs}));
  EXPECT_EQ(HotkeyCombo::keyName(36), u"Enter");
  EXPECT_EQ(HotkeyCombo::keyName(0), u"A");
  EXPECT_EQ(HotkeyCombo::keyName(92), u"Num 9");
  EXPECT_EQ(HotkeyCombo::keyName(10), u"?");
  EXPECT_EQ(HotkeyCombo::keyName(4000000000u), u"?");
}

}  // namespace
}  // namespace ferrytide::menu
