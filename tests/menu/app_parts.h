#pragma once

#include <gtest/gtest.h>

#include "menu/core_runtime.h"
#include "menu/loopback_phone.h"
#include "menu/models/app_state.h"
#include "menu/models/preferences.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"
#include "platform/linux/desktop_launcher.h"
#include "platform/linux/desktop_notifications.h"
#include "support/fake_notification_server.h"
#include "support/temp_dir.h"

namespace ferrytide::testing {

// The application's state and services over a fresh folder, as the application makes them, with
// the test's own notification server answering on the bus. A fixture derives from it after
// ::testing::Test and adds the part under test.
class AppParts {
 protected:
  AppParts() { serverStarted = server.start(); }
  ~AppParts() { server.stop(); }

  crypto::X25519PublicKey computerKey() const {
    return network.keyVault.loadOrCreate().publicKey();
  }
  PeerRecord pair(PeerRecord peer) {
    appState.store().upsert(peer);
    appState.reloadPeers();
    return peer;
  }

  TempDir dir;
  FakeNotificationServer server;
  bool serverStarted = false;
  menu::Preferences prefs{QString::fromStdString((dir / "Ferrytide.conf").string())};
  // Set before the state is made: a first start seeds its recent files from the save folder,
  // which would otherwise be the one every test in the program shares.
  bool saveFolderSet = [this] {
    prefs.setSaveFolder(QString::fromStdString((dir / "inbox").string()));
    return true;
  }();
  platform::DesktopNotifications notices;
  menu::Notifier notifier{prefs, notices, platform::DesktopLauncher()};
  menu::AppState appState{prefs,
                          {.store = PeerStore(dir / "data"),
                           .outbox = ShareOutbox(dir / "group"),
                           .recentFilesFile = dir / "recent.json"}};
  menu::CoreRuntime runtime;
  menu::OneOffNetwork network = quickOneOffNetwork(dir / "data");
  menu::PeerSync sync{appState, notifier, runtime, network};
};

}  // namespace ferrytide::testing
