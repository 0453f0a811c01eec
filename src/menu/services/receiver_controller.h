#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/channel/key_vault.h"
#include "core/transfer/receiver.h"
#include "menu/core_runtime.h"

namespace ferrytide {
class PairedPhoneKeys;
}  // namespace ferrytide

namespace ferrytide::menu {

class AppState;
class ClipboardService;
class Notifier;
class PeerSync;
class ReceiveApproval;

struct ReceiverControllerOptions {
  std::uint16_t port = 47819;
  KeyVault keyVault = KeyVault();
  // Address, idle time-out and the like; the peer store is always the application's.
  ReceiverOptions receiver;
  // The port may be held for a moment by the copy of the application that a newer start
  // replaced, or by a pairing listener that is closing: binding is tried this many times.
  int bindAttempts = 20;
  std::chrono::milliseconds bindRetryPause = std::chrono::milliseconds(250);
};

// Owns the application's one receiver: starts it with this computer's key, the usable paired
// phones, the save folder and the port, and turns what arrives into application state. Each
// start is a new generation; a run that ends after a stop or a newer start is not reported,
// so a listener closed on purpose never shows up as an error. Main thread only.
class ReceiverController : public QObject {
  Q_OBJECT

 public:
  static constexpr std::uint16_t defaultPort = 47819;

  using Options = ReceiverControllerOptions;

  struct Services {
    ReceiveApproval& approval;
    Notifier& notifier;
    ClipboardService& clipboard;
    PeerSync& peerSync;
  };

  ReceiverController(AppState& appState, CoreRuntime& runtime, Services services,
                     Options options = {}, QObject* parent = nullptr);
  ~ReceiverController() override;

  // Does nothing while a run is in progress.
  void start();
  // Stops accepting at once; transfers in flight finish on their own.
  void stop();

  bool running() const { return task_.has_value(); }
  // Runs still serving connections, the current one and stopped ones whose transfers are
  // finishing.
  int runsInFlight() const { return runsInFlight_; }
  // Stopped on request (by a pairing, say) rather than by a failure.
  bool held() const { return held_; }

 Q_SIGNALS:
  // The current run listens on `port`.
  void listening(std::uint16_t port);
  // The last run has ended: nothing is received any more.
  void idle();

 private:
  void startAttempt(int bindAttempt);
  void run(const crypto::X25519PrivateKey& key, std::vector<crypto::X25519PublicKey> expected,
           std::shared_ptr<PairedPhoneKeys> phones, int bindAttempt);
  void runFailed(std::uint64_t generation, int bindAttempt, std::exception_ptr failure);
  Receiver::Callbacks callbacks(std::uint64_t generation);
  void installHooks(Receiver& receiver, std::shared_ptr<PairedPhoneKeys> phones);
  void finished(std::uint64_t generation, const QString& error);
  void runEnded(std::uint64_t generation, const QString& error);
  void handleReceived(const ReceivedFile& file);
  void handleClipboard(const QString& text, const QString& peerHost);
  void ask(const QString& pubkey, const QString& fileName, std::int64_t size,
           std::function<void(bool)> answer);
  void onPeersChanged();
  void fail(const QString& status, const QString& error);

  AppState& appState_;
  CoreRuntime& runtime_;
  Services services_;
  Options options_;
  std::optional<CoreRuntime::Task> task_;
  std::shared_ptr<Receiver> liveReceiver_;
  std::uint64_t generation_ = 0;
  bool held_ = false;
  int runsInFlight_ = 0;
};

}  // namespace ferrytide::menu
