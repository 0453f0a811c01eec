#include "menu/app_services.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

#include "core/support/paths.h"
#include "platform/linux/desktop_launcher.h"
#include "platform/linux/system_pasteboard.h"

namespace ferrytide::menu {
namespace {

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
  return std::make_unique<NoClipboard>();
}

ReceiverControllerOptions receiverOptions(const AppServicesOptions& options) {
  ReceiverControllerOptions made{.port = options.port, .keyVault = KeyVault(), .receiver = {}};
  if (options.listenAddress) made.receiver.listenAddress = *options.listenAddress;
  return made;
}

// The command line beside this program: installed, both are in one folder; in the build
// tree, the command line is built next door.
std::filesystem::path commandLineProgram() {
  std::filesystem::path folder = QCoreApplication::applicationDirPath().toStdString();
  for (const std::filesystem::path& candidate :
       {folder / "ferrytide-cli", folder.parent_path() / "cli" / "ferrytide-cli"}) {
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "ferrytide-cli";
}

}  // namespace

AppServices::AppServices(const AppServicesOptions& options)
    : pasteboard(makePasteboard(options.clipboard)),
      notifier(prefs, notices, platform::DesktopLauncher()),
      appState(prefs),
      clipboard(prefs, history, notifier, *pasteboard, runtime),
      peerSync(appState, notifier, runtime),
      prompt(notices),
      approval(prefs, prompt),
      receiver(appState, runtime, {approval, notifier, clipboard, peerSync},
               receiverOptions(options)),
      peerWatch(appState),
      outbox(appState, notifier, peerSync, runtime),
      fileManagerActions(platform::FileManagerActionsOptions::standard(commandLineProgram())) {
  clipboard.clipboardAvailable = options.clipboard;
}

AppServices::~AppServices() {
  appState.requestStopReceiver = nullptr;
  appState.requestStartReceiver = nullptr;
  appState.peersMirrored = nullptr;
}

void say(const QString& line) {
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
}

void AppServices::sayReceiveStatus() {
  // The status turns to listening as the receiver starts; the line waits until it has bound.
  QObject::connect(&receiver, &ReceiverController::listening, &receiver, [](std::uint16_t port) {
    say(QStringLiteral("Receiving on port %1").arg(port));
  });
  QObject::connect(&appState, &AppState::receiveStatusChanged, &appState,
                   [](const ReceiveStatus& status) {
                     if (status.kind == ReceiveStatus::Kind::error) {
                       say(QStringLiteral("Not receiving: ") + status.message);
                     }
                   });
}

void AppServices::connectReceiverToState() {
  appState.requestStopReceiver = [this] { receiver.stop(); };
  appState.requestStartReceiver = [this] { receiver.start(); };
}

void AppServices::connectFileManagerActions() {
  appState.peersMirrored = [this](const std::vector<ShareOutbox::SharePeer>& phones) {
    fileManagerActions.refresh(phones);
  };
  appState.mirrorPeersToAppGroup();
}

void AppServices::flushPeerSync() {
  // Where `ferrytide-cli forget` queues the notices it could not deliver.
  peerSync.adoptCommandLineQueue(paths::applicationSupportDirectory() / "pending-unpairs.json");
  peerSync.flush();
}

void AppServices::finish(const std::function<void()>& done) {
  appState.requestStartReceiver = nullptr;
  receiver.stop();
  if (receiver.runsInFlight() == 0) return done();
  QObject::connect(&receiver, &ReceiverController::idle, &receiver, done, Qt::SingleShotConnection);
}

}  // namespace ferrytide::menu
