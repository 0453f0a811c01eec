#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/channel/key_vault.h"
#include "core/peers/device_info.h"
#include "core/peers/pair_advertiser.h"
#include "core/peers/pair_listener.h"
#include "core/peers/pairing_payload.h"
#include "core/peers/phone_introduction.h"
#include "core/support/crypto.h"
#include "menu/core_runtime.h"

namespace plinth {
class Diary;
}  // namespace plinth

namespace ferrytide::menu {

class AppState;

// This computer as the pairing step shows it beside the QR code. `hostname` is the name the
// phone is given in the payload (the device name of the settings), not the system host name.
struct NetworkInfo {
  QString interface;
  QString ip;
  QString subnet;
  QString hostname;
  QString mac;

  bool operator==(const NetworkInfo&) const = default;
};

// What the phone told about itself, with the defaults applied.
using PhoneIntroDecoded = PhoneIntroduction;

// What the pairing views show.
struct PairPhase {
  enum class Kind {
    awaiting,  // QR code and typed code on show, waiting for a phone
    confirm,   // a phone answered; the user compares `code` with the phone's
    saved,     // the phone `hostname` was stored
    failed,    // the pairing ended with `message`
    idle,      // no pairing
  };

  Kind kind = Kind::idle;
  QImage qr;                // awaiting, confirm
  NetworkInfo info;         // awaiting, confirm
  QString code;             // confirm: the four confirmation digits
  PhoneIntroDecoded intro;  // confirm
  QString hostname;         // saved
  QString message;          // failed

  static PairPhase idle() { return {}; }
  static PairPhase awaiting(QImage qr, NetworkInfo info);
  static PairPhase confirm(QImage qr, NetworkInfo info, QString code, PhoneIntroDecoded intro);
  static PairPhase saved(QString hostname);
  static PairPhase failed(QString message);

  // A pairing is open: the receiver is stopped and the QR code is on show.
  bool inProgress() const { return kind == Kind::awaiting || kind == Kind::confirm; }

  bool operator==(const PairPhase&) const = default;
};

struct PairControllerOptions {
  // The payload's port and the one the pairing listener takes (the receiver's).
  std::uint16_t port = 47819;
  KeyVault keyVault = KeyVault();
  std::function<DeviceInfo()> deviceInfo = [] { return DeviceInfo::current(); };
  // Holds the pairing secret while it is on show; written owner-only.
  std::filesystem::path qrImageFile;  // empty: "ferrytide-menu-pair-qr.png" in the temp folder
  // Absent: every interface.
  std::optional<asio::ip::address> listenAddress;
  std::chrono::milliseconds listenerTimeout = std::chrono::seconds(120);
  std::chrono::milliseconds listenerRetryPause = std::chrono::milliseconds(250);
  // Publishing the advert for the typed code on the local network; tests keep it off.
  bool publishAdvert = true;
  // Steps and errors for problem reports; none: not recorded.
  ::plinth::Diary* diary = nullptr;
};

// Drives one pairing from the pairing views: stops the receiver to free its port, shows the
// QR code and the typed code, advertises the pairing, waits for the phone's introduction with
// a one-shot listener (another attempt when the port is still held, up to 40), shows the
// confirmation code and, once the user confirms, stores the phone in place of its older
// records. Every ending (saved, failed, timed out, cancelled) lets the receiver start again,
// now with the new phone. Main thread only.
class PairController : public QObject {
  Q_OBJECT
  Q_PROPERTY(ferrytide::menu::PairPhase phase READ phase NOTIFY phaseChanged)
  Q_PROPERTY(QString shortCode READ shortCode NOTIFY shortCodeChanged)
  Q_PROPERTY(bool inProgress READ inProgress NOTIFY phaseChanged)

 public:
  using Phase = PairPhase;
  using Options = PairControllerOptions;

  static constexpr std::uint16_t defaultPort = 47819;
  static constexpr int qrScale = 8;
  static constexpr int listenerAttempts = 40;
  static constexpr const char* qrImageFileName = "ferrytide-menu-pair-qr.png";

  PairController(AppState& appState, CoreRuntime& runtime, Options options = {},
                 QObject* parent = nullptr);
  // Withdraws the advert and ends the listener; the receiver is left to the application,
  // which is shutting down or owns it still.
  ~PairController() override;

  const Phase& phase() const { return phase_; }
  const QString& shortCode() const { return shortCode_; }
  bool inProgress() const { return phase_.inProgress(); }
  // The advert of the pairing on show, published or not.
  const std::optional<PairAdvert>& advert() const { return advert_; }

  // Ends any earlier pairing and begins a new one.
  void startPairing();
  // The user saw the same code on both screens: the phone is stored. Only while confirming.
  void confirmMatches();
  // The user saw different codes: nothing is stored. Only while confirming.
  void confirmMismatch();
  // Abandons the pairing in progress; an ended pairing keeps its outcome on show.
  void cancel();
  // An ended pairing (saved, failed) goes back to idle; an open one stays.
  void reset();

 Q_SIGNALS:
  void phaseChanged(const ferrytide::menu::PairPhase& phase);
  void shortCodeChanged(const QString& code);

 private:
  struct Pending {
    PairingPayload payload;
    crypto::X25519PrivateKey macKey;
    Bytes secret;
  };

  std::optional<Pending> prepare(NetworkInfo& info);
  std::optional<QImage> renderQr(const PairingPayload& payload);
  void openAdvert(const std::string& code);
  void listen(int attempt);
  void listenerFailed(int attempt, std::exception_ptr failure);
  void handleIntroduction(const PairListener::Result& result);
  void storePhone(const PhoneIntroDecoded& intro);
  void fail(const QString& message);
  void stopReceiver();
  void endListening();
  void cleanup();
  void startReceiverOncePortIsFree();
  void setPhase(Phase phase);
  void setShortCode(const QString& code);
  void noteInDiary(const Phase& phase) const;

  AppState& appState_;
  CoreRuntime& runtime_;
  Options options_;
  Phase phase_;
  QString shortCode_;
  std::shared_ptr<PairListener> listener_;
  std::optional<PairAdvert> advert_;
  std::unique_ptr<PairAdvertiser> advertiser_;
  std::optional<CoreRuntime::Task> listenerTask_;
  QTimer retryTimer_;
  int nextAttempt_ = 1;
  std::optional<Pending> pending_;
  // Outcomes of listeners from before the last clean-up are not this pairing's.
  std::uint64_t listening_ = 0;
  // Listener waits not yet ended, this pairing's or a cancelled one's: the port may be held.
  int listenersRunning_ = 0;
  // The open pairing stopped the receiver.
  bool receiverStopped_ = false;
  // The pairing has ended; the receiver starts once no listener holds the port.
  bool receiverStartOwed_ = false;
};

}  // namespace ferrytide::menu
