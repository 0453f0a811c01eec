#include <gtest/gtest.h>

#include "core/channel/key_vault.h"
#include "core/support/base64.h"
#include "menu/models/app_state.h"
#include "menu/models/settings_summary.h"
#include "menu/services/notifier.h"
#include "plinth_reports/report_composer.h"
#include "plinth_reports/report_sender.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"

namespace ferrytide::menu {
namespace {

using testing::kKeyA;
using testing::kKeyB;
using testing::phoneRecord;
using testing::TempDir;
using testing::writeText;

// Everything a report can carry, gathered the way the application gathers it, after the
// application handled a clipboard text, a file and a failed send.
TEST(ReportPrivacyTest, ReportsCarryNoKeysClipboardTextOrFileContents) {
  TempDir dir;
  PeerStore store(dir / "state");
  PeerRecord pixel = phoneRecord("Pixel", kKeyA, "192.168.1.23");
  pixel.peer_fcm_token = "push-token-of-the-phone";
  store.writeBook(PeerBook{{pixel, phoneRecord("Tab", kKeyB, "192.168.1.30")}});
  Preferences prefs(QString::fromStdString((dir / "Ferrytide.conf").string()));
  prefs.setDisplayName(QStringLiteral("Work phone"), QString::fromStdString(kKeyA));
  prefs.storeValue(Preferences::Keys::pendingUnpairs,
                   QVariantMap{{QString::fromStdString(kKeyB), QByteArray("record")}});
  AppState state(prefs, AppState::Storage{store, ShareOutbox(dir / "group"), dir / "recent.json"});
  state.setLastSelectedPeerPubkey(QString::fromStdString(kKeyA));
  crypto::X25519PrivateKey computerKey = KeyVault(dir / "state").loadOrCreate();

  plinth::Diary diary(dir / "Reports");
  diary.startRun();
  platform::DesktopNotifications notices;
  Notifier notifier(prefs, notices, platform::DesktopLauncher());
  notifier.noteStep = [&](const QString& step) { diary.note(step.toStdString()); };
  notifier.recordError = [&](const QString& error) {
    diary.log(error.toStdString(), true, plinth::Diary::Level::error);
  };
  const std::string clipText = "my bank PIN is 4711";
  const std::string fileContent = "contents of the tax return";
  writeText(dir / "tax.pdf", fileContent);
  notifier.textReceived(QString::fromStdString(clipText), QStringLiteral("Pixel"), true);
  notifier.fileReceived(dir / "tax.pdf", 26, QStringLiteral("Pixel"));
  notifier.sendFailed(QStringLiteral("Pixel"), [] {});

  plinth::ReportDraft draft;
  draft.message = "It stopped";
  plinth::OutgoingReport report = plinth::ReportComposer::compose(
      draft, plinth::ReportConfig::fromBuild(), plinth::SystemFacts::current("Qt"), diary,
      settingsSummary(prefs, state));
  std::string body = toString(plinth::ReportSender::multipartBody(report, "tovrin-B"));

  EXPECT_NE(body.find("Received text"), std::string::npos) << body;
  EXPECT_NE(body.find("A send to a paired phone failed"), std::string::npos) << body;
  for (const std::string& secret :
       {kKeyA, kKeyB, clipText, fileContent, pixel.peer_fcm_token, std::string("192.168.1.23"),
        base64::encode(computerKey.rawRepresentation().view()),
        toHex(computerKey.rawRepresentation().view()), (dir / "tax.pdf").string()}) {
    EXPECT_EQ(body.find(secret), std::string::npos) << secret;
  }
}

}  // namespace
}  // namespace ferrytide::menu
