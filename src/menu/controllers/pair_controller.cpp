#include "menu/controllers/pair_controller.h"

#include <QVariantMap>
#include <utility>

#include "core/peers/pair_code.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/qr_renderer.h"
#include "core/support/base64.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "menu/models/app_state.h"
#include "menu/models/preferences.h"
#include "plinth_reports/diary.h"

// g++ 12 wrongly reports -Wmismatched-new-delete for coroutines: it pairs the ::operator new
// inside Asio's frame allocator with the frame's own operator delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::menu {
namespace {

const Logger kLog("pair");

QString text(const std::string& value) { return QString::fromStdString(value); }

std::int64_t nowEpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

asio::awaitable<PairListener::Result> awaitPhone(std::shared_ptr<PairListener> listener) {
  co_return co_await listener->awaitIntroduction();
}

NetworkInfo networkInfoOf(const DeviceInfo& device) {
  return NetworkInfo{.interface = text(device.interface),
                     .ip = text(device.ipv4),
                     .subnet = text(device.subnetCIDR),
                     .hostname = text(device.hostname),
                     .mac = text(device.macAddress)};
}

// A phone paired again is no longer owed an unpair notice: the receiver would otherwise answer
// its first connection with Unpair and undo the new pairing.
void dropUnpairNotice(Preferences& prefs, const std::string& pubkey) {
  std::map<QString, QByteArray> pending = prefs.pendingUnpairs();
  if (pending.erase(text(pubkey)) == 0) return;
  QVariantMap stored;
  for (const auto& [key, record] : pending) stored.insert(key, record);
  prefs.storeValue(Preferences::Keys::pendingUnpairs, stored);
  kLog.info("dropped the unpair notice of a phone paired again");
}

}  // namespace

PairPhase PairPhase::awaiting(QImage qr, NetworkInfo info) {
  PairPhase phase;
  phase.kind = Kind::awaiting;
  phase.qr = std::move(qr);
  phase.info = std::move(info);
  return phase;
}

PairPhase PairPhase::confirm(QImage qr, NetworkInfo info, QString code, PhoneIntroDecoded intro) {
  PairPhase phase = awaiting(std::move(qr), std::move(info));
  phase.kind = Kind::confirm;
  phase.code = std::move(code);
  phase.intro = std::move(intro);
  return phase;
}

PairPhase PairPhase::saved(QString hostname) {
  PairPhase phase;
  phase.kind = Kind::saved;
  phase.hostname = std::move(hostname);
  return phase;
}

PairPhase PairPhase::failed(QString message) {
  PairPhase phase;
  phase.kind = Kind::failed;
  phase.message = std::move(message);
  return phase;
}

PairController::PairController(AppState& appState, CoreRuntime& runtime, Options options,
                               QObject* parent)
    : QObject(parent), appState_(appState), runtime_(runtime), options_(std::move(options)) {
  if (options_.qrImageFile.empty()) {
    options_.qrImageFile = paths::temporaryDirectory() / qrImageFileName;
  }
  retryTimer_.setSingleShot(true);
  retryTimer_.setInterval(options_.listenerRetryPause);
  connect(&retryTimer_, &QTimer::timeout, this, [this] { listen(nextAttempt_); });
}

PairController::~PairController() {
  if (advertiser_) advertiser_->stop();
  if (listener_) listener_->cancel();
}

// No idle phase in between: a view that starts a pairing whenever it sees idle would start a
// second one from inside this call.
void PairController::startPairing() {
  pending_.reset();
  cleanup();
  NetworkInfo info;
  std::optional<Pending> pending = prepare(info);
  if (!pending) return;
  std::optional<QImage> qr = renderQr(pending->payload);
  if (!qr) return;
  std::optional<Bytes> secret = base64::decode(pending->payload.pairing_secret);
  if (!secret) return fail(QStringLiteral("pairing_secret not base64"));
  pending->secret = std::move(*secret);

  std::string code;
  try {
    code = PairCode::generate();
  } catch (const std::exception& error) {
    return fail(QStringLiteral("init: ") + text(error.what()));
  }
  pending_ = std::move(pending);
  openAdvert(code);
  listen(1);
  setShortCode(text(code));
  setPhase(Phase::awaiting(std::move(*qr), std::move(info)));
}

// This computer's key and network identity, and the payload made of them. The receiver is
// stopped on the way, so that its port is free for the pairing listener.
std::optional<PairController::Pending> PairController::prepare(NetworkInfo& info) {
  try {
    crypto::X25519PrivateKey key = options_.keyVault.loadOrCreate();
    DeviceInfo device = options_.deviceInfo();
    stopReceiver();
    device.hostname = appState_.prefs().effectiveDeviceName().toStdString();
    PairingPayload payload = PairingPayload::mint(key.publicKey(), device, options_.port);
    info = networkInfoOf(device);
    return Pending{.payload = std::move(payload), .macKey = key, .secret = {}};
  } catch (const std::exception& error) {
    fail(QStringLiteral("init: ") + text(error.what()));
    return std::nullopt;
  }
}

std::optional<QImage> PairController::renderQr(const PairingPayload& payload) {
  try {
    QRRenderer::writePNG(payload, options_.qrImageFile, qrScale);
  } catch (const std::exception& error) {
    fail(QStringLiteral("QR render: ") + text(error.what()));
    return std::nullopt;
  }
  QString path = QString::fromStdString(options_.qrImageFile.string());
  QImage image;
  if (!image.load(path, "PNG")) {
    fail(QStringLiteral("QR PNG load failed at ") + path);
    return std::nullopt;
  }
  return image;
}

void PairController::openAdvert(const std::string& code) {
  if (advertiser_) advertiser_->stop();
  advertiser_.reset();
  advert_ = makePairAdvert(pending_->payload, code);
  if (!options_.publishAdvert) return;
  advertiser_ = std::make_unique<PairAdvertiser>(*advert_);
  advertiser_->start();
}

void PairController::listen(int attempt) {
  std::uint64_t listening = listening_;
  listener_ = std::make_shared<PairListener>(runtime_.executor(), pending_->secret, options_.port,
                                             options_.listenerTimeout, options_.listenAddress);
  ++listenersRunning_;
  auto ended = [this, listening] {
    --listenersRunning_;
    startReceiverOncePortIsFree();
    return listening == listening_;
  };
  listenerTask_ = runtime_.start(
      this, awaitPhone(listener_),
      // The runtime delivers nothing once `this` is gone.
      [this, ended](PairListener::Result result) mutable {
        if (ended()) handleIntroduction(result);
      },
      [this, ended, attempt](std::exception_ptr failure) mutable {
        if (ended()) listenerFailed(attempt, failure);
      });
}

void PairController::listenerFailed(int attempt, std::exception_ptr failure) {
  listenerTask_.reset();
  listener_.reset();
  try {
    std::rethrow_exception(failure);
  } catch (const PairListener::Error& error) {
    if (error.kind() != PairListener::Error::Kind::listenerStartFailed) {
      return fail(text(error.what()));
    }
    // The port may still be held for a moment, by the stopped receiver or an earlier listener.
    if (attempt < listenerAttempts) {
      nextAttempt_ = attempt + 1;
      retryTimer_.start();
      return;
    }
    fail(QStringLiteral("could not bind :%1 after %2 attempts \u2014 another process may hold the "
                        "port: %3")
             .arg(options_.port)
             .arg(listenerAttempts)
             .arg(text(error.what())));
  } catch (const std::exception& error) {
    fail(text(error.what()));
  } catch (...) {
    fail(QStringLiteral("unknown error"));
  }
}

void PairController::handleIntroduction(const PairListener::Result& result) {
  listenerTask_.reset();
  listener_.reset();
  if (!pending_) return fail(QStringLiteral("internal: missing pair state"));
  PhoneIntroDecoded intro;
  try {
    intro =
        PhoneIntroduction::decode(result.phoneIntroductionPlaintext, pending_->payload.peer_port);
  } catch (const std::exception& error) {
    return fail(QStringLiteral("intro decode: ") + text(error.what()));
  }
  std::string code =
      PairCrypto::confirmationCode(pending_->secret, pending_->macKey.publicKey().view(),
                                   intro.pubkeyBytes(), result.phoneIntroductionPlaintext);
  if (phase_.kind != Phase::Kind::awaiting) return fail(QStringLiteral("internal: phase race"));
  setPhase(Phase::confirm(phase_.qr, phase_.info, text(code), std::move(intro)));
}

void PairController::confirmMatches() {
  if (phase_.kind != Phase::Kind::confirm || !pending_) return;
  storePhone(phase_.intro);
}

void PairController::storePhone(const PhoneIntroDecoded& intro) {
  PeerRecord record =
      intro.toPeerRecord(base64::encode(pending_->macKey.publicKey().view()), nowEpochMs());
  std::vector<PeerRecord> stale;
  try {
    stale = appState_.store().upsertReplacingStale(record);
  } catch (const std::exception& error) {
    return fail(QStringLiteral("save peer: ") + text(error.what()));
  }
  Preferences& prefs = appState_.prefs();
  for (const PeerRecord& old : stale) prefs.removeDisplayName(text(old.peer_pubkey));
  dropUnpairNotice(prefs, record.peer_pubkey);
  appState_.reloadPeers();
  setPhase(Phase::saved(text(intro.hostname)));
  cleanup();
}

void PairController::confirmMismatch() {
  if (phase_.kind != Phase::Kind::confirm) return;
  fail(QStringLiteral("pairing aborted \u2014 codes did not match"));
}

void PairController::cancel() {
  pending_.reset();
  cleanup();
  if (phase_.inProgress()) setPhase(Phase::idle());
}

void PairController::reset() {
  if (!phase_.inProgress()) setPhase(Phase::idle());
}

void PairController::fail(const QString& message) {
  setPhase(Phase::failed(message));
  cleanup();
}

void PairController::stopReceiver() {
  // A start still owed to the receiver by the pairing before this one is not needed now.
  receiverStartOwed_ = false;
  receiverStopped_ = true;
  if (appState_.requestStopReceiver) appState_.requestStopReceiver();
}

void PairController::endListening() {
  ++listening_;
  retryTimer_.stop();
  if (listenerTask_) listenerTask_->cancel();
  listenerTask_.reset();
  if (listener_) listener_->cancel();
  listener_.reset();
}

void PairController::cleanup() {
  if (advertiser_) advertiser_->stop();
  advertiser_.reset();
  advert_.reset();
  endListening();
  if (receiverStopped_) {
    receiverStopped_ = false;
    receiverStartOwed_ = true;
  }
  startReceiverOncePortIsFree();
}

// A cancelled listener closes its socket on the network thread a moment later; a receiver
// started before that would find the port taken and stay down.
void PairController::startReceiverOncePortIsFree() {
  if (!receiverStartOwed_ || listenersRunning_ > 0) return;
  receiverStartOwed_ = false;
  if (appState_.requestStartReceiver) appState_.requestStartReceiver();
}

void PairController::setPhase(Phase phase) {
  if (phase == phase_) return;
  phase_ = std::move(phase);
  noteInDiary(phase_);
  Q_EMIT phaseChanged(phase_);
}

void PairController::setShortCode(const QString& code) {
  if (code == shortCode_) return;
  shortCode_ = code;
  Q_EMIT shortCodeChanged(shortCode_);
}

void PairController::noteInDiary(const Phase& phase) const {
  if (!options_.diary) return;
  switch (phase.kind) {
    case Phase::Kind::awaiting:
      return options_.diary->note("Started pairing");
    case Phase::Kind::confirm:
      return options_.diary->note("A phone answered the pairing code");
    case Phase::Kind::saved:
      return options_.diary->note("Paired a phone");
    case Phase::Kind::failed:
      return options_.diary->log("Pairing failed: " + phase.message.toStdString(), true,
                                 plinth::Diary::Level::error);
    case Phase::Kind::idle:
      return;
  }
}

}  // namespace ferrytide::menu
