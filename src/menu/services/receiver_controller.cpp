#include "menu/services/receiver_controller.h"

#include <QPointer>
#include <QTimer>
#include <QUuid>

#include "core/peers/paired_phone_keys.h"
#include "core/support/base64.h"
#include "core/support/log.h"
#include "menu/models/app_state.h"
#include "menu/models/main_thread.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"
#include "menu/services/receive_approval.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("receiver");
const QString kNoUsablePeers = QStringLiteral("no usable peers (re-pair phones)");

QString text(const std::string& value) { return QString::fromStdString(value); }

bool isBindFailure(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Receiver::Error& error) {
    return error.kind() == Receiver::Error::Kind::listenerStartFailed;
  } catch (...) {
    return false;
  }
}

asio::awaitable<void> runReceiver(std::shared_ptr<Receiver> receiver,
                                  Receiver::Callbacks callbacks) {
  co_await receiver->run(std::move(callbacks));
}

// The offer waits on the network thread while the main thread asks the user: a timer that
// never fires on its own is cancelled once the answer is in.
asio::awaitable<bool> askOnMainThread(
    QPointer<ReceiverController> controller,
    std::function<void(ReceiverController&, std::function<void(bool)>)> ask) {
  auto executor = co_await asio::this_coro::executor;
  struct Waiting {
    explicit Waiting(asio::any_io_executor on) : wake(on, asio::steady_timer::time_point::max()) {}
    asio::steady_timer wake;
    bool accepted = false;
  };
  auto waiting = std::make_shared<Waiting>(executor);
  auto reply = [waiting, executor](bool accepted) {
    asio::post(executor, [waiting, accepted] {
      waiting->accepted = accepted;
      waiting->wake.cancel();
    });
  };
  postToMainThread([controller, ask = std::move(ask), reply]() mutable {
    if (!controller) return reply(false);
    ask(*controller, reply);
  });
  std::error_code ignored;
  co_await waiting->wake.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  co_return waiting->accepted;
}

}  // namespace

ReceiverController::ReceiverController(AppState& appState, CoreRuntime& runtime, Services services,
                                       Options options, QObject* parent)
    : QObject(parent),
      appState_(appState),
      runtime_(runtime),
      services_(services),
      options_(std::move(options)) {
  connect(&appState_, &AppState::peersChanged, this, [this] { onPeersChanged(); });
}

ReceiverController::~ReceiverController() { stop(); }

void ReceiverController::start() { startAttempt(1); }

void ReceiverController::startAttempt(int bindAttempt) {
  if (task_) return;
  if (liveReceiver_) liveReceiver_->stop();
  liveReceiver_.reset();
  ++generation_;
  held_ = false;
  appState_.setReceiveStatus(ReceiveStatus::stopped());
  appState_.setLastError(std::nullopt);

  std::optional<crypto::X25519PrivateKey> key;
  try {
    key = options_.keyVault.loadOrCreate();
  } catch (const std::exception& error) {
    return fail(QStringLiteral("KeyVault: ") + text(error.what()), text(error.what()));
  }
  auto phones =
      std::make_shared<PairedPhoneKeys>(appState_.store(), base64::encode(key->publicKey().view()));
  std::vector<crypto::X25519PublicKey> expected;
  try {
    expected = phones->current();
  } catch (const std::exception& error) {
    return fail(QStringLiteral("PeerBook: ") + text(error.what()), text(error.what()));
  }
  if (expected.empty()) {
    appState_.setReceiveStatus(ReceiveStatus::error(kNoUsablePeers));
    return;
  }
  run(*key, std::move(expected), std::move(phones), bindAttempt);
}

void ReceiverController::run(const crypto::X25519PrivateKey& key,
                             std::vector<crypto::X25519PublicKey> expected,
                             std::shared_ptr<PairedPhoneKeys> phones, int bindAttempt) {
  std::uint64_t generation = generation_;
  ReceiverOptions receiverOptions = options_.receiver;
  receiverOptions.peerStore = appState_.store();
  QPointer<ReceiverController> self(this);
  receiverOptions.onListening = [self, generation,
                                 also = options_.receiver.onListening](std::uint16_t port) {
    if (also) also(port);
    postToMainThread([self, generation, port] {
      if (!self || self->generation_ != generation) return;
      self->appState_.setReceiveStatus(ReceiveStatus::listening(port));
      Q_EMIT self->listening(port);
    });
  };
  auto receiver = std::make_shared<Receiver>(
      runtime_.executor(), key, std::move(expected),
      std::filesystem::path(appState_.prefs().saveFolder().toStdString()), options_.port,
      toBytes(kFerrytidePrologue), receiverOptions);
  installHooks(*receiver, std::move(phones));
  liveReceiver_ = receiver;
  appState_.setReceiveStatus(ReceiveStatus::listening(options_.port));
  ++runsInFlight_;
  task_ = runtime_.start(
      this, runReceiver(receiver, callbacks(generation)),
      [this, generation] { runEnded(generation, QStringLiteral("listener stopped")); },
      [this, generation, bindAttempt](std::exception_ptr failure) {
        runFailed(generation, bindAttempt, failure);
      });
}

void ReceiverController::runFailed(std::uint64_t generation, int bindAttempt,
                                   std::exception_ptr failure) {
  const bool retry =
      generation == generation_ && bindAttempt < options_.bindAttempts && isBindFailure(failure);
  if (!retry) return runEnded(generation, CoreRuntime::describe(failure));
  --runsInFlight_;
  task_.reset();
  liveReceiver_.reset();
  QTimer::singleShot(options_.bindRetryPause, this, [this, generation, bindAttempt] {
    if (generation == generation_) startAttempt(bindAttempt + 1);
  });
}

// Read on the network thread at the start of every connection: phones paired or forgotten
// while the receiver runs count from their next connection on.
void ReceiverController::installHooks(Receiver& receiver, std::shared_ptr<PairedPhoneKeys> phones) {
  receiver.setExpectedPeerPubkeys([phones] { return phones->current(); });
  QString settingsFile = appState_.prefs().defaults().fileName();
  receiver.setRemovedPeerPubkeys([settingsFile] {
    // A settings object of this thread's own: the main thread's may not be shared.
    QSettings settings(settingsFile, QSettings::IniFormat);
    std::vector<crypto::X25519PublicKey> removed;
    for (const auto& [pubkey, record] : Preferences::pendingUnpairs(settings)) {
      PeerRecord phone;
      phone.peer_pubkey = pubkey.toStdString();
      if (std::optional<crypto::X25519PublicKey> key = publicKeyOf(phone)) removed.push_back(*key);
    }
    return removed;
  });
  QPointer<ReceiverController> self(this);
  receiver.setApproveOffer([self](std::string name, std::int64_t size, std::string pubkey) {
    return askOnMainThread(self, [name = text(name), size, pubkey = text(pubkey)](
                                     ReceiverController& controller, auto answer) {
      controller.ask(pubkey, name, size, std::move(answer));
    });
  });
}

Receiver::Callbacks ReceiverController::callbacks(std::uint64_t generation) {
  QPointer<ReceiverController> self(this);
  Receiver::Callbacks callbacks;
  callbacks.onTransfer = [self](const ReceivedFile& file) {
    postToMainThread([self, file] {
      if (!self) return;
      self->handleReceived(file);
      self->services_.peerSync.flush();
    });
  };
  callbacks.onClipboard = [self](const std::string& clip, const std::string& peerHost) {
    postToMainThread([self, clip = text(clip), peerHost = text(peerHost)] {
      if (!self) return;
      self->handleClipboard(clip, peerHost);
      self->services_.peerSync.flush();
    });
  };
  callbacks.onSync = [self](const ProcessOutcome& outcome) {
    postToMainThread([self, outcome] {
      if (self) self->services_.peerSync.handle(outcome);
    });
  };
  callbacks.onError = [self, generation](const std::exception& error) {
    postToMainThread([self, generation, error = text(error.what())] {
      if (self && self->generation_ == generation) self->appState_.setLastError(error);
    });
  };
  return callbacks;
}

void ReceiverController::stop() {
  ++generation_;
  held_ = true;
  if (liveReceiver_) liveReceiver_->stop();
  liveReceiver_.reset();
  // The run is not cancelled: it ends by itself once the transfers in flight are done, and
  // the new generation makes its ending harmless.
  task_.reset();
  appState_.setReceiveStatus(ReceiveStatus::stopped());
  appState_.setLastError(std::nullopt);
}

void ReceiverController::runEnded(std::uint64_t generation, const QString& error) {
  --runsInFlight_;
  finished(generation, error);
  if (runsInFlight_ == 0) Q_EMIT idle();
}

void ReceiverController::finished(std::uint64_t generation, const QString& error) {
  if (generation != generation_) return;
  kLog.warning("receiver ended: " + error.toStdString());
  appState_.setReceiveStatus(ReceiveStatus::error(error));
  appState_.setLastError(error);
  task_.reset();
  liveReceiver_.reset();
}

void ReceiverController::fail(const QString& status, const QString& error) {
  appState_.setReceiveStatus(ReceiveStatus::error(status));
  appState_.setLastError(error);
}

void ReceiverController::handleReceived(const ReceivedFile& file) {
  QString endpoint = text(file.remoteEndpoint);
  QString name = appState_.peerName(endpoint);
  std::optional<QString> pubkey;
  if (std::optional<PeerRecord> peer = appState_.peer(endpoint)) pubkey = text(peer->peer_pubkey);
  appState_.recordFile(FileLog{.id = QUuid::createUuid(),
                               .url = file.savedAt,
                               .bytes = file.bytesWritten,
                               .date = QDateTime::currentDateTimeUtc(),
                               .direction = FileLog::Direction::received,
                               .peerName = name,
                               .peerPubkey = pubkey});
  services_.notifier.fileReceived(file.savedAt, file.bytesWritten, name);
}

void ReceiverController::handleClipboard(const QString& clip, const QString& peerHost) {
  for (const PeerRecord& peer : appState_.peers()) {
    if (text(peer.peer_hostname) != peerHost) continue;
    services_.clipboard.receive(clip, appState_.displayName(peer), text(peer.peer_pubkey));
    return;
  }
  services_.clipboard.receive(clip, peerHost, std::nullopt);
}

void ReceiverController::ask(const QString& pubkey, const QString& fileName, std::int64_t size,
                             std::function<void(bool)> answer) {
  QString name = QStringLiteral("Your phone");
  for (const PeerRecord& peer : appState_.peers()) {
    if (text(peer.peer_pubkey) == pubkey) name = appState_.displayName(peer);
  }
  services_.approval.ask(pubkey, name, fileName, size, std::move(answer));
}

// A phone paired while nothing listened (there was none usable) starts the receiver; the
// running one picks up changed phones by itself.
void ReceiverController::onPeersChanged() {
  if (!task_ && !held_) start();
}

}  // namespace ferrytide::menu
