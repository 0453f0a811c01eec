#pragma once

#include <asio/ip/address.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/transfer/pasteboard_writer.h"
#include "menu/controllers/outbox_watcher.h"
#include "menu/core_runtime.h"
#include "menu/models/app_state.h"
#include "menu/models/clip_history.h"
#include "menu/models/preferences.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/notification_approval_prompt.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_file_watch.h"
#include "menu/services/peer_sync.h"
#include "menu/services/receive_approval.h"
#include "menu/services/receiver_controller.h"
#include "platform/linux/desktop_files/file_manager_actions.h"
#include "platform/linux/desktop_notifications.h"

namespace ferrytide::menu {

struct AppServicesOptions {
  std::uint16_t port = 47819;
  // Whether a display's clipboard can be reached (the application object is a GUI one).
  bool clipboard = false;
  // Absent: every interface.
  std::optional<asio::ip::address> listenAddress;
};

// One line on stderr, flushed at once: for a terminal and for whoever waits on the program.
void say(const QString& line);

// The long-lived state and services that the tray application and the headless daemon share,
// in the order they are made; each uses only those above it. Main thread only.
struct AppServices {
  explicit AppServices(const AppServicesOptions& options);
  ~AppServices();

  // Lets the state stop and start the receiver (for a new save folder, or while pairing).
  void connectReceiverToState();
  // Prints each change of the receiver's status on stderr ("Receiving on port 47819"), for a
  // terminal and for whoever waits on the program.
  void sayReceiveStatus();
  // Takes over the unpair notices that `ferrytide-cli forget` could not deliver, then delivers
  // what is waiting.
  void flushPeerSync();
  // Keeps the file managers' "Send to phone" actions naming the phones as they are now.
  void connectFileManagerActions();
  // Stops accepting and calls `done` once the transfers in flight have finished.
  void finish(const std::function<void()>& done);

  Preferences prefs;
  platform::DesktopNotifications notices;
  std::unique_ptr<PasteboardWriter> pasteboard;
  Notifier notifier;
  AppState appState;
  CoreRuntime runtime;
  ClipHistory history;
  ClipboardService clipboard;
  PeerSync peerSync;
  NotificationApprovalPrompt prompt;
  ReceiveApproval approval;
  ReceiverController receiver;
  PeerFileWatch peerWatch;
  OutboxWatcher outbox;
  platform::FileManagerActions fileManagerActions;
};

}  // namespace ferrytide::menu
