#include "menu/models/preferences.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace ferrytide::menu {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

class PreferencesTest : public ::testing::Test {
 protected:
  QString settingsFile() const { return QString::fromStdString((dir / "Ferrytide.conf").string()); }

  TempDir dir;
};

TEST_F(PreferencesTest, NothingStoredReadsAsTheDefaults) {
  Preferences prefs(settingsFile());
  EXPECT_TRUE(prefs.copyReceivedText());
  EXPECT_TRUE(prefs.notifyOnReceive());
  EXPECT_TRUE(prefs.playSound());
  EXPECT_EQ(prefs.popoverTab(), u"files");
  EXPECT_EQ(prefs.saveFolder(), Preferences::defaultSaveFolder());
  EXPECT_TRUE(prefs.saveFolder().endsWith(u"/Ferrytide"));
  EXPECT_EQ(prefs.clipHotkey(), (HotkeyCombo{8, 0x1800}));
  EXPECT_FALSE(prefs.welcomeCompleted());
  EXPECT_FALSE(prefs.askBeforeReceiving());
  EXPECT_EQ(prefs.deviceName(), u"");
  EXPECT_TRUE(prefs.displayNames().isEmpty());
  EXPECT_TRUE(prefs.pendingUnpairs().empty());
  EXPECT_FALSE(prefs.damagedNotice());
  EXPECT_FALSE(prefs.effectiveDeviceName().isEmpty());
}

TEST_F(PreferencesTest, EveryAssignmentIsStoredAtOnceAndNotifiesOnlyOnChange) {
  {
    Preferences prefs(settingsFile());
    int notices = 0;
    QObject::connect(&prefs, &Preferences::playSoundChanged, [&](bool value) {
      ++notices;
      EXPECT_EQ(prefs.playSound(), value);
    });
    prefs.setPlaySound(false);
    prefs.setPlaySound(false);
    EXPECT_EQ(notices, 1);
    // On disk before the object goes: a crash right now loses nothing.
    EXPECT_NE(readText(dir / "Ferrytide.conf").find("ferrytide.playSound=false"),
              std::string::npos);

    prefs.setCopyReceivedText(false);
    prefs.setNotifyOnReceive(false);
    prefs.setSaveFolder(QStringLiteral("/srv/inbox"));
    prefs.setPopoverTab(QStringLiteral("clips"));
    prefs.setClipHotkey(HotkeyCombo{49, HotkeyCombo::command | HotkeyCombo::shift});
    prefs.setWelcomeCompleted(true);
    prefs.setAskBeforeReceiving(true);
    prefs.setDeviceName(QStringLiteral("@Variant(Studio)"));
    prefs.setDisplayName(QStringLiteral("@work phone"), QStringLiteral("a+b/c="));
    prefs.storeValue(Preferences::Keys::pendingUnpairs,
                     QVariantMap{{QStringLiteral("key1"), QByteArray("\0@\xff)", 4)}});
  }
  // Values that look like stored types are the app's own and read back as they were.
  Preferences again(settingsFile());
  EXPECT_FALSE(again.damagedNotice());
  EXPECT_FALSE(again.playSound());
  EXPECT_FALSE(again.copyReceivedText());
  EXPECT_FALSE(again.notifyOnReceive());
  EXPECT_EQ(again.saveFolder(), u"/srv/inbox");
  EXPECT_EQ(again.popoverTab(), u"clips");
  EXPECT_EQ(again.clipHotkey(), (HotkeyCombo{49, 0x0300}));
  EXPECT_TRUE(again.welcomeCompleted());
  EXPECT_TRUE(again.askBeforeReceiving());
  EXPECT_EQ(again.deviceName(), u"@Variant(Studio)");
  EXPECT_EQ(again.displayNames().value(QStringLiteral("a+b/c=")), u"@work phone");
  EXPECT_EQ(again.pendingUnpairs().at(QStringLiteral("key1")), QByteArray("\0@\xff)", 4));
}

// A file from an earlier run holds every value as text; values of the wrong kind count as
// absent and a combination outside the stored ranges falls back to the default.
TEST_F(PreferencesTest, FileFromAnEarlierRunIsReadByTypeAndWrongTypesCountAsAbsent) {
  writeText(dir / "Ferrytide.conf",
            "[General]\n"
            "ferrytide.playSound=false\n"
            "ferrytide.notifyOnReceive=maybe\n"
            "ferrytide.welcomeCompleted=true\n"
            "ferrytide.clipHotkey.keyCode=49\n"
            "ferrytide.deviceName=Desk\n"
            "ferrytide.displayNames=not a dictionary\n");
  {
    Preferences prefs(settingsFile());
    EXPECT_FALSE(prefs.playSound());
    EXPECT_TRUE(prefs.notifyOnReceive());
    EXPECT_TRUE(prefs.welcomeCompleted());
    EXPECT_EQ(prefs.clipHotkey(), (HotkeyCombo{49, 0}));
    EXPECT_EQ(prefs.deviceName(), u"Desk");
    EXPECT_TRUE(prefs.displayNames().isEmpty());
  }
  for (const char* stored : {"-1", "4294967296", "C"}) {
    TempDir other;
    writeText(other / "Ferrytide.conf", std::string("[General]\nferrytide.clipHotkey.keyCode=") +
                                            stored + "\nferrytide.clipHotkey.modifiers=256\n");
    Preferences prefs(QString::fromStdString((other / "Ferrytide.conf").string()));
    EXPECT_EQ(prefs.clipHotkey(), HotkeyCombo{}) << stored;
  }
}

TEST_F(PreferencesTest, DisplayNamesAreTrimmedCutToFortyCharactersOrRemoved) {
  Preferences prefs(settingsFile());
  QString key = QStringLiteral("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=");
  prefs.setDisplayName(QStringLiteral("  Pixel 8 \n"), key);
  EXPECT_EQ(prefs.displayNames().value(key), u"Pixel 8");

  // 41 letters of two code points each: the cut counts letters, not code units.
  const QString accented = QStringLiteral("e\u0301").repeated(41);
  prefs.setDisplayName(accented, key);
  EXPECT_EQ(prefs.displayNames().value(key), accented.left(80));

  prefs.setDisplayName(QStringLiteral("   "), key);
  EXPECT_FALSE(prefs.displayNames().contains(key));
  prefs.setDisplayName(QStringLiteral("Pixel"), key);
  prefs.removeDisplayName(key);
  EXPECT_FALSE(Preferences(settingsFile()).displayNames().contains(key));
}

TEST_F(PreferencesTest, PendingUnpairsAreReadOnlyWhenEveryValueIsBytes) {
  Preferences prefs(settingsFile());
  QVariantMap notices{{QStringLiteral("key1"), QByteArray("{\"peer_pubkey\":\"key1\"}")}};
  prefs.storeValue(Preferences::Keys::pendingUnpairs, notices);
  ASSERT_EQ(prefs.pendingUnpairs().size(), 1u);
  EXPECT_EQ(prefs.pendingUnpairs().at(QStringLiteral("key1")), "{\"peer_pubkey\":\"key1\"}");

  notices.insert(QStringLiteral("key2"), QStringLiteral("text"));
  prefs.storeValue(Preferences::Keys::pendingUnpairs, notices);
  EXPECT_TRUE(prefs.pendingUnpairs().empty());
}

TEST_F(PreferencesTest, DamagedFileIsSetAsideAndTheDefaultsApply) {
  std::string damaged = "[General\nferrytide.playSound=false\n";
  writeText(dir / "Ferrytide.conf", damaged);
  Preferences prefs(settingsFile());
  EXPECT_TRUE(prefs.playSound());
  ASSERT_TRUE(prefs.damagedNotice());
  EXPECT_TRUE(prefs.damagedNotice()->contains(u"Ferrytide.conf.damaged"))
      << prefs.damagedNotice()->toStdString();
  EXPECT_EQ(readText(dir / "Ferrytide.conf.damaged"), damaged);

  prefs.setPlaySound(false);
  EXPECT_FALSE(Preferences(settingsFile()).playSound());
  EXPECT_FALSE(Preferences(settingsFile()).damagedNotice());
}

// Qt would build a bitmap from these and end this process, which has no GUI application object
// (nor has the headless daemon): the file is set aside before Qt reads a value of it.
TEST_F(PreferencesTest, StoredValuesOfKindsTheAppNeverWritesSetTheFileAsideUnread) {
  const std::string bitmap = "@Variant(\\0\\0\\0I)";
  const std::string mapHoldingABitmap =
      "@Variant(\\0\\0\\0\\b\\0\\0\\0\\x1\\0\\0\\0\\x2\\0k\\0\\0\\0I)";
  const std::string values[] = {bitmap,
                                mapHoldingABitmap,
                                "\\x40" + bitmap.substr(1),
                                "clips, " + bitmap,
                                "@DateTime(\\0\\0\\0I\\0)",
                                bitmap + "\n[General]\nferrytide.popoverTab=files"};
  for (const std::string& value : values) {
    TempDir other;
    std::string content =
        "[General]\nferrytide.playSound=false\nferrytide.popoverTab=" + value + "\n";
    writeText(other / "Ferrytide.conf", content);
    Preferences prefs(QString::fromStdString((other / "Ferrytide.conf").string()));
    EXPECT_TRUE(prefs.playSound()) << value;
    ASSERT_TRUE(prefs.damagedNotice()) << value;
    EXPECT_TRUE(prefs.damagedNotice()->contains(u"of a kind this app does not write"));
    EXPECT_EQ(readText(other / "Ferrytide.conf.damaged"), content);
  }
}

}  // namespace
}  // namespace ferrytide::menu
