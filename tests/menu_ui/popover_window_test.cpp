#include "menu/popover/popover_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <memory>

#include "menu/app_parts.h"
#include "menu/models/clip_history.h"
#include "menu/popover/drop_zone.h"
#include "menu/popover/send_progress_card.h"
#include "menu/qt_wait.h"
#include "menu/services/clipboard_service.h"
#include "menu/tray/app_router.h"
#include "plinth/plinth_test_support.h"
#include "support/fake_pasteboard.h"

namespace ferrytide::menu {
namespace {

using testing::LoopbackPhone;
using testing::processEventsUntil;
using Tab = PopoverModel::Tab;

QUrl urlOf(const std::filesystem::path& file) {
  return QUrl::fromLocalFile(QFile::decodeName(file.c_str()));
}

template <typename Widget = QWidget>
Widget* child(const QWidget* parent, const char* name) {
  auto* found = parent->findChild<Widget*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

class PopoverWindowTest : public ::testing::Test, protected testing::AppParts {
 protected:
  void SetUp() override {
    ASSERT_TRUE(serverStarted);
    router.showWelcome = [this](bool skipIntro) { welcomeRequests.push_back(skipIntro); };
  }

  PopoverModelOptions options() {
    PopoverModelOptions options;
    options.send.keyVault = network.keyVault;
    options.send.journalFile = dir / "inflight.json";
    return options;
  }
  void pairAsTarget(const PeerRecord& peer) {
    pair(peer);
    appState.setLastSelectedPeerPubkey(QString::fromStdString(peer.peer_pubkey));
  }
  std::filesystem::path file(const std::string& name) {
    std::filesystem::create_directories(dir / "files");
    std::ofstream(dir / "files" / name) << name << " content";
    return dir / "files" / name;
  }
  // What a drag of `urls` over the window brings.
  static std::unique_ptr<QMimeData> dragged(const QList<QUrl>& urls) {
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    return mime;
  }
  bool dragEnter(const QMimeData& mime) {
    QDragEnterEvent enter(QPoint(180, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    return enter.isAccepted();
  }
  bool drop(const QMimeData& mime) {
    QDropEvent event(QPointF(180, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
    return event.isAccepted();
  }
  QPlainTextEdit* composeEdit() { return child<QPlainTextEdit>(&window, "composeEdit"); }

  testing::FakePasteboard pasteboard;
  ClipHistory history{dir / "data" / "clips.json"};
  ClipboardService clipboard{prefs, history, notifier, pasteboard, runtime, network};
  PopoverModel model{appState, clipboard, sync, notifier, runtime, options()};
  AppRouter router;
  std::vector<bool> welcomeRequests;
  PopoverWindow window{model, history, router, platform::DesktopLauncher()};
};

TEST_F(PopoverWindowTest, DroppedFilesGoToThePhoneWithoutTheFolderAndShowInRecentFiles) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  window.showNear({});
  std::filesystem::create_directories(dir / "folder");
  const auto mime = dragged({urlOf(file("a.txt")), urlOf(file("b.txt")), urlOf(dir / "folder")});

  ASSERT_TRUE(dragEnter(*mime));
  EXPECT_EQ(model.externalDragCount(), 3);
  EXPECT_FALSE(window.isTransient()) << "a drag holds the popover open";
  EXPECT_EQ(child<DropZone>(&window, "dropZone")->headlineText(), u"Release to send to Pixel"_qs);

  ASSERT_TRUE(drop(*mime));
  EXPECT_EQ(model.externalDragCount(), std::nullopt);
  EXPECT_TRUE(window.isTransient());
  ASSERT_TRUE(processEventsUntil([&] { return phone.savedFiles().size() == 2; }));
  EXPECT_EQ(phone.savedFiles(), (std::vector<std::string>{"a.txt", "b.txt"}));

  ASSERT_TRUE(processEventsUntil(
      [&] { return window.findChildren<QWidget*>(u"recentFileRow"_qs).size() == 2; }))
      << window.findChildren<QWidget*>(u"recentFileRow"_qs).size() << " rows for "
      << appState.recentFiles().size() << " recent files";
  EXPECT_FALSE(child(&window, "recentFilesEmpty")->isVisibleTo(&window));
  ASSERT_TRUE(processEventsUntil([&] {
    return child<QLabel>(&window, "sendTitle")->text() == u"Sent 2 files to Pixel"_qs;
  }));
  EXPECT_TRUE(child(&window, "sendProgressCard")->isVisibleTo(&window));
}

TEST_F(PopoverWindowTest, WithoutAPhoneItOffersPairingAndRefusesDrags) {
  window.showNear({});
  EXPECT_TRUE(child(&window, "noPhonesView")->isVisible());
  EXPECT_FALSE(child(&window, "tabsView")->isVisible());
  QTest::mouseClick(child<QPushButton>(&window, "addPhoneButton"), Qt::LeftButton);
  EXPECT_EQ(welcomeRequests, std::vector<bool>{true});

  const auto mime = dragged({urlOf(file("a.txt"))});
  EXPECT_FALSE(dragEnter(*mime));
  EXPECT_EQ(model.externalDragCount(), std::nullopt);
  EXPECT_TRUE(window.isTransient());

  // Pairing a phone brings the tabs; a drag of things that are no local files is refused too.
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  EXPECT_TRUE(child(&window, "tabsView")->isVisible());
  EXPECT_FALSE(dragEnter(*dragged({QUrl(u"https://example.com/a.txt"_qs)})));
  EXPECT_EQ(model.externalDragCount(), std::nullopt);
}

TEST_F(PopoverWindowTest, TabButtonsAndTheModelsTabFollowEachOther) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  model.setTab(Tab::files);
  window.showNear({});
  pasteboard.types.formats = {"text/plain"};
  pasteboard.plainText = "on the clipboard";

  QTest::mouseClick(child<QPushButton>(&window, "clipsTabButton"), Qt::LeftButton);
  EXPECT_EQ(model.tab(), Tab::clips);
  EXPECT_EQ(prefs.popoverTab(), u"clips"_qs);
  EXPECT_TRUE(child(&window, "clipsTab")->isVisible());
  EXPECT_EQ(composeEdit()->toPlainText(), u"on the clipboard"_qs)
      << "opening Clips fills the compose box from the clipboard";

  model.setTab(Tab::files);
  EXPECT_TRUE(child<QPushButton>(&window, "filesTabButton")->isChecked());
  EXPECT_FALSE(child<QPushButton>(&window, "clipsTabButton")->isChecked());
  EXPECT_TRUE(child(&window, "filesTab")->isVisible());
}

TEST_F(PopoverWindowTest, ComposedTextReachesThePhoneAndComesBackFromRecentClips) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  model.setTab(Tab::clips);
  window.showNear({});
  auto* send = child<QPushButton>(&window, "sendTextButton");
  EXPECT_FALSE(send->isEnabled()) << "nothing to send yet";

  QTest::keyClicks(composeEdit(), u"see you at 8"_qs);
  EXPECT_EQ(model.composeText(), u"see you at 8"_qs);
  QTest::mouseClick(send, Qt::LeftButton);
  auto* status = child<QLabel>(&window, "composeStatus");
  ASSERT_TRUE(processEventsUntil([&] { return status->text() == u"Sent to Pixel"_qs; }))
      << status->text().toStdString();
  ASSERT_EQ(phone.outcomes().size(), 1u);
  EXPECT_EQ(std::get<outcome::Clipboard>(phone.outcomes().front()).text, "see you at 8");

  // Writing again clears the result; a recent clip replaces the draft.
  QTest::keyClicks(composeEdit(), u"!"_qs);
  EXPECT_EQ(status->text(), QString());
  ASSERT_TRUE(processEventsUntil(
      [&] { return window.findChildren<QAbstractButton*>(u"recentClipRow"_qs).size() == 1; }));
  QTest::mouseClick(window.findChild<QAbstractButton*>(u"recentClipRow"_qs), Qt::LeftButton);
  EXPECT_EQ(composeEdit()->toPlainText(), u"see you at 8"_qs);
  EXPECT_EQ(model.composeText(), u"see you at 8"_qs);
}

TEST_F(PopoverWindowTest, EditingKeysWorkInTheComposeBox) {
  LoopbackPhone phone(computerKey());
  pairAsTarget(phone.record());
  model.setTab(Tab::clips);
  window.showNear({});
  QPlainTextEdit* edit = composeEdit();
  QTest::keyClicks(edit, u"abc"_qs);

  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), u"abc"_qs);
  QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(edit->toPlainText(), QString());
  QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(edit->toPlainText(), u"abc"_qs);
  QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit->toPlainText(), QString());

  QApplication::clipboard()->setText(u"pasted"_qs);
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit->toPlainText(), u"pasted"_qs);
  EXPECT_EQ(model.composeText(), u"pasted"_qs);
}

TEST_F(PopoverWindowTest, ItOpensNextToTheTrayIconInsideTheScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect topRight(screen.right() - 30, screen.top(), 24, 24);
  window.showNear(topRight);
  EXPECT_TRUE(window.isShown());
  // On a screen too small for the whole window (QT_SCALE_FACTOR=2 offscreen) it cannot clear
  // the icon; the arithmetic below still holds.
  if (screen.height() > window.height() + 2 * 30) {
    EXPECT_GT(window.geometry().top(), topRight.bottom());
    EXPECT_TRUE(screen.contains(window.geometry())) << window.geometry().x();

    const QRect bottomRight(screen.right() - 30, screen.bottom() - 23, 24, 24);
    window.showNear(bottomRight);
    EXPECT_LT(window.geometry().bottom(), bottomRight.top());
    EXPECT_TRUE(screen.contains(window.geometry()));
  }

  // Panels outside the available area: one at the top, one on the left.
  const QRect belowTopPanel(0, 28, 1920, 1052);
  const QSize size = PopoverWindow::preferredSize;
  EXPECT_EQ(PopoverWindow::placement({1880, 2, 24, 24}, size, belowTopPanel, {}),
            QRect(QPoint(1920 - 360, 26 + PopoverWindow::iconGap), size));
  EXPECT_EQ(PopoverWindow::placement({2, 600, 24, 24}, size, {28, 0, 1892, 1080}, {}),
            QRect(QPoint(26 + PopoverWindow::iconGap, 611 - 260), size));
  EXPECT_EQ(PopoverWindow::placement({}, size, belowTopPanel, {700, 900}),
            QRect(QPoint(700 - 180, 1080 - 520), size))
      << "at the cursor, pushed up into the screen";

  // Held open for a drag, a close is ignored; afterwards it closes and says so.
  QSignalSpy closed(&window, &PopoverWindow::closed);
  window.setTransient(false);
  window.close();
  EXPECT_TRUE(window.isShown());
  window.setTransient(true);
  window.close();
  EXPECT_FALSE(window.isShown());
  EXPECT_EQ(closed.count(), 1);
}

// The widgets that stick out of the visible part of their parent, outside scrolled lists.
QStringList clippedWidgets(const QWidget* root) {
  QStringList clipped;
  for (const QWidget* widget : root->findChildren<QWidget*>()) {
    const QWidget* parent = widget->parentWidget();
    if (!widget->isVisibleTo(root) || parent == nullptr || widget->isWindow()) continue;
    if (qobject_cast<const QScrollArea*>(parent->parentWidget()) != nullptr) continue;
    if (parent->objectName().endsWith(u"Rows"_qs)) continue;
    if (!parent->rect().contains(widget->geometry())) clipped << widget->objectName();
  }
  return clipped;
}

QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(38, 38, 41));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
  dark.setColor(QPalette::Base, QColor(28, 28, 30));
  dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
  dark.setColor(QPalette::Text, QColor(235, 235, 235));
  dark.setColor(QPalette::Button, QColor(55, 55, 58));
  dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
  dark.setColor(QPalette::Mid, QColor(85, 85, 90));
  dark.setColor(QPalette::Highlight, QColor(64, 128, 230));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 155));
  return dark;
}

// With FERRYTIDE_PLINTH_SHOTS set, a picture of every state in the light and the dark palette
// (run the program again with QT_SCALE_FACTOR=2 for the large one); in each, none of the texts
// or buttons sticks out of its place.
class PopoverWindowShots : public PopoverWindowTest {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("FERRYTIDE_PLINTH_SHOTS")) GTEST_SKIP() << "no shots asked for";
    PopoverWindowTest::SetUp();
  }
  void TearDown() override { QApplication::setPalette(saved); }

  void shootEveryState(bool dark) {
    if (dark) QApplication::setPalette(darkPalette());
    // Made after the palette is set, as the application makes it.
    PopoverWindow shown(model, history, router, platform::DesktopLauncher());
    const QString suffix = QString::fromLatin1(dark ? "-dark" : "-light") +
                           (qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? u"@2x"_qs : QString());
    auto shot = [&](const char* name) {
      // Each level of layouts settles in a pass of its own.
      for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
      plinth::testing::shoot(&shown, QStringLiteral("popover-") + QLatin1String(name) + suffix);
      EXPECT_EQ(clippedWidgets(&shown), QStringList()) << name << suffix.toStdString();
    };
    shown.showNear({});
    shot("no-phones");

    LoopbackPhone phone(computerKey());
    pairAsTarget(phone.record("Pixel 8 Pro"));
    model.setTab(Tab::files);
    shot("files-empty");
    model.setExternalDragCount(2);
    shot("files-drag-over");
    model.setExternalDragCount(std::nullopt);
    ASSERT_TRUE(model.send().mirrorStart());
    model.send().mirrorProgress(u"Pixel 8 Pro"_qs, {2, 3, 1'500'000, 4'000'000}, false);
    shot("files-sending");
    model.send().mirrorProgress(u"Pixel 8 Pro"_qs, {2, 3, 1'500'000, 4'000'000}, true);
    shot("files-waking");
    model.send().mirrorEnd(SendPhase::Failed{
        u"Couldn't reach Pixel 8 Pro. Check that it's on the same Wi-Fi."_qs, u"Pixel 8 Pro"_qs});
    shot("files-failed");
    // Recorded oldest first, as they would have arrived: the newest shows on top.
    for (int i = 5; i >= 0; --i) {
      appState.recordFile({QUuid::createUuid(),
                           file("holiday photo number " + std::to_string(i) + ".jpg"),
                           1'234'567 * (i + 1), QDateTime::currentDateTime().addSecs(-600 * i),
                           i % 2 ? FileLog::Direction::sent : FileLog::Direction::received,
                           u"Pixel 8 Pro"_qs, std::nullopt});
    }
    ASSERT_TRUE(model.send().mirrorStart());
    model.send().mirrorEnd(SendPhase::Done{3, 4'000'000, 2.5, u"Pixel 8 Pro"_qs});
    shot("files-done-recent");

    model.setTab(Tab::clips);
    shot("clips-empty");
    for (const char* text : {"see you at 8", "https://example.com/a/rather/long/link/to/a/page",
                             "first line\nsecond line"}) {
      history.insert(Clip::make(QString::fromUtf8(text), Clip::Direction::incoming,
                                u"Pixel 8 Pro"_qs, std::nullopt));
    }
    pasteboard.types.formats = {"text/plain", std::string(PasteboardWriter::concealedType)};
    model.refreshCompose();
    shot("clips-password");
    model.dismissNotice();
    model.setComposeText(u"Meet at the station"_qs);
    model.sendText();
    ASSERT_TRUE(processEventsUntil([&] {
      return model.composeStatus().kind != PopoverModel::ComposeStatus::Kind::sending;
    }));
    shot("clips-sent");

    LoopbackPhone second(computerKey());
    pair(second.record("Galaxy Tab"));
    model.setTab(Tab::files);
    shot("two-phones");
  }

  const QPalette saved = QApplication::palette();
};

TEST_F(PopoverWindowShots, LightPalette) { shootEveryState(false); }
TEST_F(PopoverWindowShots, DarkPalette) { shootEveryState(true); }

}  // namespace
}  // namespace ferrytide::menu
