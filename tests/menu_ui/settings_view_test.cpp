#include "menu/windows/settings_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "menu/app_parts.h"
#include "menu/design_system/key_caps.h"
#include "menu/models/clip_history.h"
#include "menu/qt_wait.h"
#include "menu/tray/app_router.h"
#include "menu/windows/settings_devices_page.h"
#include "menu/windows/settings_shortcuts_page.h"
#include "platform/linux/login_item.h"
#include "plinth/plinth_test_support.h"
#include "plinth/settings_shell.h"
#include "support/test_peers.h"

namespace ferrytide::menu {
namespace {

using testing::kKeyA;
using testing::kKeyB;
using testing::phoneRecord;
using testing::ScopedEnv;

const QString kEnDash = QString(QChar(0x2013));

// What a person answered in the dialogs, and what the dialogs said.
struct Answers {
  std::optional<QString> name;
  bool confirm = false;
  std::optional<QString> folder;
  QString asked;  // the last title and information text shown
};

class SettingsViewTest : public ::testing::Test, public testing::AppParts {
 protected:
  SettingsViewTest() {
    appState.requestStopReceiver = [this] { receiverCalls << QStringLiteral("stop"); };
    appState.requestStartReceiver = [this] { receiverCalls << QStringLiteral("start"); };
    router.showWelcome = [this](bool skipIntro) { welcomeAsked = skipIntro ? 2 : 1; };
    router.showReport = [this] { ++reportsAsked; };
    hooks.clipHotkeyRegistered = [this] { return hotkeyHeld; };
    hooks.dialogs.askName = [this](QWidget*, const QString& title, const QString& info,
                                   const QString& current) {
      answers.asked = title + u'|' + info + u'|' + current;
      return answers.name;
    };
    hooks.dialogs.confirm = [this](QWidget*, const QString& title, const QString& info,
                                   const QString& button) {
      answers.asked = title + u'|' + info + u'|' + button;
      return answers.confirm;
    };
    hooks.dialogs.chooseFolder = [this](QWidget*, const QString&) { return answers.folder; };
  }

  SettingsView& view() {
    if (!view_) {
      view_ = std::make_unique<SettingsView>(appState, prefs, clips, navigation, router, hooks);
      view_->resize(820, 540);
      view_->show();
    }
    return *view_;
  }
  template <typename Widget>
  Widget* find(const char* name) {
    auto* found = view().findChild<Widget*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
  QString noteOf(const char* name) {
    auto* note = find<QLabel>(name);
    return note->isVisibleTo(&view()) ? note->text() : QString();
  }

  ClipHistory clips{dir / "clips.json"};
  SettingsNavigation navigation;
  AppRouter router;
  SettingsHooks hooks;
  Answers answers;
  bool hotkeyHeld = true;
  QStringList receiverCalls;
  int welcomeAsked = 0;
  int reportsAsked = 0;
  std::unique_ptr<SettingsView> view_;
};

TEST_F(SettingsViewTest, PageFollowsTheNavigationBothWays) {
  navigation.setSection(SettingsSection::shortcuts);
  EXPECT_EQ(view().shell()->selection(), QStringLiteral("shortcuts"));
  navigation.setSection(SettingsSection::updates);
  EXPECT_EQ(view().shell()->selection(), QStringLiteral("updates"));
  auto* sidebar = find<QListWidget>("pageList");
  sidebar->setCurrentRow(4);
  EXPECT_EQ(navigation.section(), SettingsSection::about);
  EXPECT_EQ(find<QLabel>("pageTitle")->text(), QStringLiteral("About"));
  click("reportProblemButton");
  EXPECT_EQ(reportsAsked, 1);
}

TEST_F(SettingsViewTest, FingerprintIsTheKeysFirstEightBytesInGroups) {
  EXPECT_EQ(SettingsDevicesPage::fingerprint(QString::fromStdString(kKeyA)),
            QStringLiteral("ABCD EF12 3456 7890"));
  for (const char* bad : {"not base64!", "q83vEjRW", "", "q83vEjRWeJA"}) {
    EXPECT_EQ(SettingsDevicesPage::fingerprint(QString::fromLatin1(bad)), kEnDash) << bad;
  }
}

TEST_F(SettingsViewTest, PhonesAreListedRenamedAndRemoved) {
  EXPECT_TRUE(find<QWidget>("noPhones")->isVisibleTo(&view()));
  click("addFirstPhoneButton");
  EXPECT_EQ(welcomeAsked, 2) << "opens the welcome window at the pairing step";

  pair(phoneRecord("Pixel 8", kKeyA, "192.168.1.23", 1733480000000));
  pair(phoneRecord("Galaxy", kKeyB, "192.168.1.24", 1733490000000));
  auto* list = find<QListWidget>("phoneList");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("Galaxy")) << "newest pairing first";
  view().findChild<SettingsDevicesPage*>()->selectPhone(QString::fromStdString(kKeyA));
  EXPECT_EQ(find<QLabel>("phoneAddress")->text(), QStringLiteral("192.168.1.23"));
  EXPECT_EQ(find<QLabel>("phoneFingerprint")->text(), QStringLiteral("ABCD EF12 3456 7890"));

  answers.name = QStringLiteral("  Work phone  ");
  click("renamePhoneButton");
  EXPECT_TRUE(answers.asked.contains(
      QStringLiteral("|Only on this computer. The phone keeps its own name, Pixel 8.|Pixel 8")));
  EXPECT_EQ(prefs.displayNames().value(QString::fromStdString(kKeyA)), QStringLiteral("Work phone"));
  EXPECT_EQ(list->currentItem()->text(), QStringLiteral("Work phone")) << "the choice is kept";
  EXPECT_EQ(find<QLabel>("phoneName")->text(), QStringLiteral("Work phone"));

  answers.confirm = false;
  click("forgetPhoneButton");
  EXPECT_EQ(answers.asked,
            QStringLiteral("Remove Work phone?|It's removed from this computer, and this computer "
                           "from the phone. Pair again to use it.|Remove"));
  EXPECT_EQ(appState.peers().size(), 2u) << "Cancel keeps the phone";
  answers.confirm = true;
  click("forgetPhoneButton");
  ASSERT_EQ(appState.peers().size(), 1u);
  EXPECT_EQ(appState.peers()[0].peer_pubkey, kKeyB);
  EXPECT_EQ(receiverCalls, (QStringList{QStringLiteral("stop"), QStringLiteral("start")}));
  EXPECT_EQ(list->count(), 1);
  click("forgetPhoneButton");
  EXPECT_TRUE(appState.peers().empty());
  EXPECT_TRUE(find<QWidget>("noPhones")->isVisibleTo(&view()));
}

// Disabled: under AddressSanitizer a switch's toggle handler reads a stack address that is gone
// (stack-buffer-underflow in the General page's bindSwitch lambda); to be found and mended.
TEST_F(SettingsViewTest, GeneralControlsChangeTheirSettings) {
  view().select(SettingsSection::general);
  struct Switch {
    const char* name;
    bool (Preferences::*read)() const;
  };
  for (Switch each : {Switch{"askBeforeReceivingSwitch", &Preferences::askBeforeReceiving},
                      Switch{"copyReceivedTextSwitch", &Preferences::copyReceivedText},
                      Switch{"notifyOnReceiveSwitch", &Preferences::notifyOnReceive},
                      Switch{"playSoundSwitch", &Preferences::playSound}}) {
    auto* box = find<QCheckBox>(each.name);
    bool before = (prefs.*each.read)();
    EXPECT_EQ(box->isChecked(), before) << each.name;
    click(each.name);
    EXPECT_EQ((prefs.*each.read)(), !before) << each.name;
  }
  auto* askRow = find<QCheckBox>("askBeforeReceivingSwitch")->parentWidget();
  EXPECT_TRUE(askRow->findChildren<QLabel*>().at(1)->text().startsWith(
      QStringLiteral("Accept or decline each file")))
      << "the subtitle follows the switch at once";
  prefs.setPlaySound(true);
  EXPECT_TRUE(find<QCheckBox>("playSoundSwitch")->isChecked()) << "a change elsewhere shows";

  QString folder = QString::fromStdString((dir / "Inbox").string());
  answers.folder = folder;
  click("chooseFolderButton");
  EXPECT_EQ(prefs.saveFolder(), folder);
  EXPECT_EQ(find<QLabel>("saveFolderLabel")->text(), folder);
  EXPECT_EQ(receiverCalls, (QStringList{QStringLiteral("stop"), QStringLiteral("start")}));
  answers.folder.reset();
  click("chooseFolderButton");
  EXPECT_EQ(receiverCalls.size(), 2) << "a cancelled chooser changes nothing";

  answers.name = QStringLiteral(" Studio ");
  click("renameComputerButton");
  EXPECT_EQ(prefs.deviceName(), QStringLiteral("Studio"));
  EXPECT_EQ(find<QLabel>("computerNameLabel")->text(), QStringLiteral("Studio"));

  appState.setReceiveStatus(ReceiveStatus::listening(47819));
  EXPECT_EQ(find<QLabel>("receiveStatusLabel")->text(), QStringLiteral("Ready, port 47819"));

  clips.insert(Clip::make(u"one"_qs, Clip::Direction::incoming, u"Pixel"_qs, std::nullopt));
  clips.insert(Clip::make(u"two"_qs, Clip::Direction::outgoing, u"Pixel"_qs, std::nullopt));
  EXPECT_EQ(find<QLabel>("clipCountLabel")->text(), QStringLiteral("2 clips saved on this computer."));
  answers.confirm = true;
  click("clearClipsButton");
  EXPECT_EQ(answers.asked, QStringLiteral("Clear clip history?|All 2 clips will be removed from "
                                          "this computer. This can't be undone.|Clear"));
  EXPECT_TRUE(clips.clips().empty());
  EXPECT_EQ(find<QLabel>("clipCountLabel")->text(), QStringLiteral("0 clips saved on this computer."));
  ASSERT_TRUE(testing::processEventsUntil(
      [&] { return ClipHistory(dir / "clips.json").clips().empty(); }))
      << "the emptied history is saved";
}

TEST_F(SettingsViewTest, OpenAtLoginWritesTheAutostartEntryAndShowsAFailure) {
  ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
  std::filesystem::path entry = dir / "config" / "autostart" / "ferrytide.desktop";
  EXPECT_EQ(platform::LoginItem::entryPath(), entry);
  view().select(SettingsSection::general);
  auto* toggle = find<QCheckBox>("openAtLoginSwitch");
  EXPECT_FALSE(toggle->isChecked());
  click("openAtLoginSwitch");
  std::string text = testing::readText(entry);
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=" + QCoreApplication::applicationFilePath().toStdString() + "\n"),
            std::string::npos);
  EXPECT_TRUE(platform::LoginItem::isEnabled());
  EXPECT_TRUE(toggle->isChecked());
  click("openAtLoginSwitch");
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_FALSE(toggle->isChecked());

  // A program path with spaces, quotes and a percent sign stays one argument.
  EXPECT_NE(platform::LoginItem::entryText(QStringLiteral("/opt/my \"apps\"/100%/ferrytide"))
                .find("Exec=\"/opt/my \\\\\"apps\\\\\"/100%%/ferrytide\"\n"),
            std::string::npos);

  std::filesystem::remove_all(dir / "config" / "autostart");
  testing::writeText(dir / "config" / "autostart", "a file where the folder belongs");
  click("openAtLoginSwitch");
  EXPECT_TRUE(noteOf("openAtLoginNote").startsWith(QStringLiteral("Your desktop didn't allow this.")));
  EXPECT_TRUE(noteOf("openAtLoginNote").contains(QStringLiteral("autostart")));
  EXPECT_FALSE(toggle->isChecked());
}

TEST_F(SettingsViewTest, RecordingTakesOnlyCombinationsWithCtrlAltOrSuper) {
  view().select(SettingsSection::shortcuts);
  auto* page = view().findChild<SettingsShortcutsPage*>();
  auto* caps = find<KeyCaps>("clipHotkeyCaps");
  EXPECT_EQ(caps->keys(), (QStringList{u"Ctrl"_qs, u"Alt"_qs, u"C"_qs}));
  HotkeyCombo before = prefs.clipHotkey();

  click("recordShortcutButton");
  EXPECT_TRUE(find<QLabel>("recordingPrompt")->isVisibleTo(&view()));
  QTest::keyClick(page, Qt::Key_K, Qt::ShiftModifier);
  EXPECT_EQ(noteOf("shortcutNote"), QStringLiteral("Use at least one of Ctrl, Alt or Super."));
  EXPECT_TRUE(page->isRecording());
  QTest::keyClick(page, Qt::Key_Escape);
  EXPECT_FALSE(page->isRecording());
  EXPECT_EQ(prefs.clipHotkey(), before);
  EXPECT_TRUE(noteOf("shortcutNote").isEmpty());

  click("recordShortcutButton");
  QTest::keyClick(page, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_FALSE(page->isRecording());
  EXPECT_EQ(prefs.clipHotkey(), (HotkeyCombo{.keyCode = 40, .modifiers = 0x1800}));
  EXPECT_EQ(caps->keys(), (QStringList{u"Ctrl"_qs, u"Alt"_qs, u"K"_qs}));

  click("recordShortcutButton");
  QTest::keyClick(page, Qt::Key_F5, Qt::MetaModifier | Qt::ShiftModifier);
  EXPECT_EQ(prefs.clipHotkey(), (HotkeyCombo{.keyCode = 96, .modifiers = 0x0300}));

  hotkeyHeld = false;
  page->refresh();
  EXPECT_EQ(noteOf("shortcutNote"),
            QStringLiteral("Another program uses this shortcut. Record a different one."));
}

TEST_F(SettingsViewTest, FileManagerRowFollowsTheIntegrationState) {
  std::optional<bool> installed;
  int installs = 0;
  hooks.fileManagerIntegration = [&] { return installed; };
  view().select(SettingsSection::shortcuts);
  EXPECT_FALSE(noteOf("fileManagerNote").isEmpty()) << "unknown shows a neutral line";
  EXPECT_FALSE(find<QWidget>("installFileManagerButton")->isVisibleTo(&view()))
      << "no installer, no button";
  view_.reset();

  installed = false;
  std::optional<QString> failure = u"uca.xml: not readable as XML"_qs;
  hooks.installFileManagerIntegration = [&] {
    ++installs;
    if (!failure) installed = true;
    return failure;
  };
  view().select(SettingsSection::shortcuts);
  click("installFileManagerButton");
  EXPECT_EQ(noteOf("fileManagerNote"), *failure);
  EXPECT_TRUE(find<QWidget>("installFileManagerButton")->isVisibleTo(&view()));
  failure.reset();
  click("installFileManagerButton");
  EXPECT_EQ(installs, 2);
  EXPECT_TRUE(find<QWidget>("fileManagerState")->isVisibleTo(&view()));
  EXPECT_FALSE(find<QWidget>("installFileManagerButton")->isVisibleTo(&view()));
}

// Every state of every page, in the light and a dark palette, for a person to look at when
// FERRYTIDE_PLINTH_SHOTS names a folder; and every control can be told apart and reached.
TEST_F(SettingsViewTest, EveryControlIsNamedAndReachable) {
  QPalette saved = QApplication::palette();
  QPalette dark = saved;
  for (auto [role, colour] : std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{
           {QPalette::Window, QColor(0x1f, 0x1f, 0x22)}, {QPalette::WindowText, Qt::white},
           {QPalette::Base, QColor(0x2a, 0x2a, 0x2e)},   {QPalette::AlternateBase, QColor(0x26, 0x26, 0x2a)},
           {QPalette::Text, Qt::white},                  {QPalette::Button, QColor(0x3a, 0x3a, 0x3f)},
           {QPalette::ButtonText, Qt::white},            {QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0)},
           {QPalette::Highlight, QColor(0x3d, 0x7b, 0xd9)}}) {
    dark.setColor(role, colour);
  }
  hooks.fileManagerIntegration = [] { return std::optional<bool>(false); };
  hooks.installFileManagerIntegration = [] { return std::optional<QString>(); };
  for (bool inDark : {false, true}) {
    QApplication::setPalette(inDark ? dark : saved);
    QString suffix = inDark ? QStringLiteral("-dark") : QStringLiteral("-light");
    view_.reset();
    appState.setLastError(std::nullopt);
    view().select(SettingsSection::devices);
    plinth::testing::shoot(&view(), QStringLiteral("settings-phones-empty") + suffix);
    pair(phoneRecord("Pixel 8", kKeyA));
    pair(phoneRecord("Galaxy Tab S9 FE", kKeyB, "fe80::1c2a:3bff:fe4d:5e6f", 1733490000000));
    plinth::testing::shoot(&view(), QStringLiteral("settings-phones") + suffix);
    view().select(SettingsSection::general);
    appState.setReceiveStatus(ReceiveStatus::error(u"port 47819 is in use"_qs));
    plinth::testing::shoot(&view(), QStringLiteral("settings-general") + suffix);
    view().select(SettingsSection::shortcuts);
    click("recordShortcutButton");
    QTest::keyClick(view().findChild<SettingsShortcutsPage*>(), Qt::Key_K, Qt::ShiftModifier);
    plinth::testing::shoot(&view(), QStringLiteral("settings-shortcuts-recording") + suffix);
    QTest::keyClick(view().findChild<SettingsShortcutsPage*>(), Qt::Key_Escape);
    hotkeyHeld = false;
    view().findChild<SettingsShortcutsPage*>()->refresh();
    plinth::testing::shoot(&view(), QStringLiteral("settings-shortcuts-taken") + suffix);
    hotkeyHeld = true;
    view().select(SettingsSection::updates);
    plinth::testing::shoot(&view(), QStringLiteral("settings-updates") + suffix);
    view().select(SettingsSection::about);
    click("acknowledgementsButton");
    plinth::testing::shoot(&view(), QStringLiteral("settings-about") + suffix);

    for (QAbstractButton* control : view().findChildren<QAbstractButton*>()) {
      EXPECT_FALSE(control->objectName().isEmpty()) << control->text().toStdString();
      EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
      EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->objectName().toStdString();
    }
    for (const PeerRecord& peer : std::vector(appState.peers())) appState.forget(peer, false);
  }
  QApplication::setPalette(saved);
}

}  // namespace
}  // namespace ferrytide::menu
