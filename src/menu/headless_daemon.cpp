#include "menu/headless_daemon.h"

#include <cstdio>

#include "core/support/paths.h"
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
#include "platform/linux/desktop_launcher.h"
#include "platform/linux/desktop_notifications.h"
#include "platform/linux/single_instance.h"
#include "platform/linux/system_pasteboard.h"

namespace ferrytide::menu {
namespace {

void say(const QString& line) {
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
}

QString statusLine(const ReceiveStatus& status) {
  switch (status.kind) {
    case ReceiveStatus::Kind::listening:
      return QStringLiteral("Receiving on port %1").arg(status.port);
    case ReceiveStatus::Kind::error:
      return QStringLiteral("Not receiving: ") + status.message;
    case ReceiveStatus::Kind::stopped:
      break;
  }
  return {};
}

// Without a display there is no clipboard: received text is kept in the clip history and
// announced, and nothing is copied.
class NoClipboard final : public PasteboardWriter {
 public:
  PasteboardTypes declaredTypes() override { return {}; }
  std::string read() override { return {}; }
  void write(std::string /*text*/) override {}
};

std::unique_ptr<PasteboardWriter> makePasteboard(bool clipboard) {
  if (clipboard) return std::make_unique<platform::SystemPasteboard>();
  say(QStringLiteral("No display: received text is kept in the clip history, not copied"));
  return std::make_unique<NoClipboard>();
}

}  // namespace

// In the order they are made; each uses only those above it.
struct HeadlessDaemon::Parts {
  explicit Parts(const Options& options)
      : pasteboard(makePasteboard(options.clipboard)),
        notifier(prefs, notices, platform::DesktopLauncher()),
        appState(prefs),
        clipboard(prefs, history, notifier, *pasteboard, runtime),
        peerSync(appState, notifier, runtime),
        prompt(notices),
        approval(prefs, prompt),
        receiver(appState, runtime, {approval, notifier, clipboard, peerSync},
                 ReceiverControllerOptions{
                     .port = options.port, .keyVault = KeyVault(), .receiver = {}}),
        peerWatch(appState),
        outbox(appState, notifier, peerSync, runtime) {}

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
};

HeadlessDaemon::HeadlessDaemon(Options options, QObject* parent)
    : QObject(parent), options_(options) {}

HeadlessDaemon::~HeadlessDaemon() = default;

bool HeadlessDaemon::start() {
  auto* instance = new platform::SingleInstance(
      QDBusConnection::sessionBus(), QString::fromLatin1(platform::SingleInstance::busName), this);
  if (!instance->claimFirst()) {
    if (std::optional<quint32> holder = instance->holderPid()) {
      say(QStringLiteral("ferrytide: already running as process %1").arg(*holder));
    } else {
      say(QStringLiteral("ferrytide: cannot claim the session bus name: ") + instance->error());
    }
    return false;
  }
  parts_ = std::make_unique<Parts>(options_);
  parts_->clipboard.clipboardAvailable = options_.clipboard;
  if (const std::optional<QString>& damaged = parts_->prefs.damagedNotice()) say(*damaged);
  connect(&parts_->appState, &AppState::receiveStatusChanged, this,
          [](const ReceiveStatus& status) {
            if (QString line = statusLine(status); !line.isEmpty()) say(line);
          });
  AppState& appState = parts_->appState;
  ReceiverController& receiver = parts_->receiver;
  appState.requestStopReceiver = [&receiver] { receiver.stop(); };
  appState.requestStartReceiver = [&receiver] { receiver.start(); };
  receiver.start();
  // Where `ferrytide-cli forget` queues the notices it could not deliver.
  parts_->peerSync.adoptCommandLineQueue(paths::applicationSupportDirectory() /
                                         "pending-unpairs.json");
  parts_->peerSync.flush();
  parts_->outbox.start();
  return true;
}

void HeadlessDaemon::finish() {
  if (!parts_) return Q_EMIT finished();
  ReceiverController& receiver = parts_->receiver;
  parts_->appState.requestStartReceiver = nullptr;
  receiver.stop();
  if (receiver.runsInFlight() == 0) return Q_EMIT finished();
  say(QStringLiteral("Finishing the transfers in flight"));
  connect(&receiver, &ReceiverController::idle, this, &HeadlessDaemon::finished);
}

}  // namespace ferrytide::menu
