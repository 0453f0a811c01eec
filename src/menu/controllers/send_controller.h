#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/channel/key_vault.h"
#include "core/peers/peer_record.h"
#include "core/support/crypto.h"
#include "core/transfer/send_transfer.h"
#include "menu/controllers/send_phase.h"
#include "menu/controllers/send_progress_bridge.h"
#include "menu/core_runtime.h"

namespace ferrytide {
class InFlightJournal;
}  // namespace ferrytide

namespace ferrytide::menu {

class AppState;
class Notifier;
class PeerSync;

// What became of one phone in a send.
struct SendOutcome {
  enum class Result {
    sent,        // every file arrived
    unreached,   // not reached (network, wake, handshake, protocol or file error, or the phone
                 // was paired with an earlier key of this computer); `remaining` was not sent
    declined,    // the phone declined a file; peer sync has told the user
    removed,     // the phone removed this computer; peer sync has forgotten it and told the user
    cancelled,   // the user cancelled before this phone had every file
    notStarted,  // the send could not start (see SendReport::failure)
    notPaired    // sendJob only: no paired phone has this key
  };

  QString peerPubkey;
  QString name;                    // the display name when the send started
  std::optional<PeerRecord> peer;  // absent for notPaired
  Result result = Result::sent;
  std::vector<SentFile> sent;                    // the files that arrived, in order
  std::vector<std::filesystem::path> remaining;  // the files that did not, in order
  QString error;                                 // why not, as the user would read it
};

// How a whole send ended: one outcome per phone asked for, the paired ones in the order given,
// then the keys of no paired phone.
struct SendReport {
  std::vector<SendOutcome> phones;
  bool cancelled = false;
  QString failure;  // set when nothing could be sent at all (this computer's key)
};

struct SendControllerOptions {
  // This computer's key.
  KeyVault keyVault = KeyVault();
  // Absent: the in-flight journal's default file, which the outbox and the command-line tool
  // share, so that a file is resumed whoever sends it next.
  std::optional<std::filesystem::path> journalFile;
  // Connect plan (0.5 s warm, wake, 15 s of 1 s attempts 0.5 s apart), wake, handshake and
  // close waits. Its `cancel` and `progress` are the controller's own.
  SendFileOptions file;
  // At most one progress update per interval reaches the phase (plus each file's last).
  SendDuration progressInterval = SendProgressBridge::defaultInterval;
  // Read from the network thread; tests count its calls.
  SendProgressBridge::Clock clock = &std::chrono::steady_clock::now;
};

// Sends files to paired phones for the user interface: drops, the file picker, retries from
// notices and the outbox. Phones are served one after another in the given order, files in the
// given order, one file at a time on the network thread; only one send runs at a time.
//
// It publishes a phase for the progress card, records each file that arrived in the recent
// files, hands a phone's Decline or Unpair to peer sync, and sums the phones it could not reach
// up in one failed phase ("Couldn't reach Pixel and Galaxy. Check that they're on the same
// Wi-Fi.") with a notice and a retry per phone. A cancelled send stops at once; the phone keeps
// its partial copy and the in-flight journal the file's transfer identifier, so the next send of
// the same file resumes where this one stopped. Main thread only.
class SendController : public QObject {
  Q_OBJECT

 public:
  using Phase = SendPhase;
  using Progress = SendPhase::Progress;
  using Options = SendControllerOptions;

  // When the send started, or that it was refused.
  enum class JobStart {
    started,        // the report follows through the callback
    busy,           // another send (or a mirrored outbox job) is running; nothing was sent
    nothingToSend,  // no files, or none of the keys is a paired phone
  };
  using JobDone = std::function<void(const SendReport& report)>;

  SendController(AppState& appState, PeerSync& peerSync, Notifier& notifier, CoreRuntime& runtime,
                 Options options = {}, QObject* parent = nullptr);
  ~SendController() override;

  const Phase& phase() const { return phase_; }
  // A send or a mirrored outbox job is under way.
  bool busy() const { return run_ != nullptr || mirroring_; }

  // Sends `files` to each of `phones`. False when refused (busy, no phones, no files) and the
  // phase is unchanged; true when taken, including a send that failed at once (no key). At the
  // end each unreached phone gets a "Couldn't reach" notice whose "Try Again" sends it the
  // files it did not get.
  bool send(const std::vector<std::filesystem::path>& files, const std::vector<PeerRecord>& phones);

  // For the outbox: sends `files` to the paired phones with these public keys (Base64, in this
  // order; the caller reloads the peers first if the file may have changed). The progress shows
  // in the phase like any send, but there are no failure notices: `done` gets the report on the
  // main thread, never during this call and not at all when the controller is gone first, and
  // the caller decides what to retry (each outcome's `remaining`) and what to tell the user.
  // Declines and removals are handed to peer sync as for every send; keys of no paired phone
  // come back as notPaired. A job refused as busy can be tried again after `finished` or, for a
  // mirrored job, once the phase is no longer busy.
  JobStart sendJob(const std::vector<std::filesystem::path>& files, const QStringList& peerPubkeys,
                   JobDone done);

  // Stops the running send: the file in flight ends at once, later files and phones are not
  // tried, and the phase goes back to idle without any failure.
  void cancel();
  // Done or failed back to idle, once the card has shown the result; a busy phase stays.
  void resetPhase();

  // An outbox job that sends by itself shows its progress here. False while busy. Until
  // mirrorEnd, sends are refused.
  bool mirrorStart();
  // Ignored unless mirroring, and when it would move the same phone's bar backwards.
  void mirrorProgress(const QString& peerName, const Progress& progress, bool waking);
  // The job's result (done or failed) becomes the phase.
  void mirrorEnd(const Phase& outcome);

 Q_SIGNALS:
  void phaseChanged(const ferrytide::menu::SendPhase& phase);
  // A file arrived at a phone (it is in the recent files by now).
  void fileSent(const std::filesystem::path& file, qint64 bytesSent,
                const ferrytide::PeerRecord& phone);
  // Every send's end, cancelled ones included; sends are accepted again.
  void finished(const ferrytide::menu::SendReport& report);

 private:
  struct Run;

  void start(const std::vector<std::filesystem::path>& files, const std::vector<PeerRecord>& phones,
             std::vector<SendOutcome> notPaired, JobDone done, bool job);
  void failToStart(std::unique_ptr<Run> run);
  void next();
  bool pairedWithEarlierKey(const PeerRecord& phone) const;
  void sendCurrentFile();
  void fileArrived(const SentFile& sent);
  void fileFailed(std::exception_ptr failure);
  void endPhone(SendOutcome::Result result, const QString& error = {});
  void summarise();
  void deliver(const SendReport& report, const JobDone& done);
  void notifyUnreached(const std::vector<SendOutcome>& unreached);
  void retry(const SendOutcome& outcome);
  void applyProgress(std::uint64_t step, bool waking, const Progress& progress);
  void setPhase(Phase phase);

  AppState& appState_;
  PeerSync& peerSync_;
  Notifier& notifier_;
  CoreRuntime& runtime_;
  Options options_;
  std::shared_ptr<InFlightJournal> journal_;
  Phase phase_;
  std::unique_ptr<Run> run_;
  std::optional<CoreRuntime::Task> task_;
  // Identifies the file in flight, so that late progress of an earlier one is dropped.
  std::uint64_t step_ = 0;
  bool mirroring_ = false;
};

}  // namespace ferrytide::menu
