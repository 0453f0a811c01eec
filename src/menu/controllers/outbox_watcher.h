#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>

#include "core/channel/key_vault.h"
#include "core/transfer/in_flight_journal.h"
#include "core/transfer/send_transfer.h"
#include "core/transfer/share_outbox.h"
#include "menu/controllers/send_phase.h"
#include "menu/core_runtime.h"

namespace ferrytide::menu {

class AppState;
class Notifier;
class PeerSync;

// How a share is sent: a short warm attempt, then a wake and attempts for up to 15 s.
SendFileOptions shareSendOptions();

struct OutboxWatcherOptions {
  ShareOutbox outbox = ShareOutbox();
  KeyVault keyVault = KeyVault();
  // Connect and wake durations of a share; tests shorten them and replace the wake.
  SendFileOptions send = shareSendOptions();
  std::chrono::milliseconds scanInterval = std::chrono::seconds(30);
  // Empty: the application's in-flight journal, shared with the send controller.
  std::optional<std::filesystem::path> journalFile;
};

// The application side of the share outbox: takes the jobs that `ferrytide-cli share` and the
// file-manager actions lay down, one at a time, sends their files to the chosen phones, tells
// the user how it went and takes the job out of the outbox. A job that cannot be sent for a
// reason the user must look at (unreadable manifest, files gone, no matching phone, no key) is
// kept aside rather than deleted. Main thread only; the sends run on the network thread.
class OutboxWatcher : public QObject {
  Q_OBJECT

 public:
  using Options = OutboxWatcherOptions;

  // One target phone's share of a job.
  struct PhoneResult {
    QString name;
    int filesSent = 0;
  };

  // How one phone's sends ended.
  struct PhoneOutcome {
    int filesSent = 0;
    std::exception_ptr failure;  // why the phone did not get the rest
  };

  OutboxWatcher(AppState& appState, Notifier& notifier, PeerSync& peerSync, CoreRuntime& runtime,
                Options options = {}, QObject* parent = nullptr);
  ~OutboxWatcher() override;

  // Watches the outbox (inotify on its folder, and a scan every scanInterval) and takes the
  // jobs already waiting.
  void start();
  bool draining() const { return draining_; }

  // The success title for `fileNames` sent as `results` (every target phone, in order).
  static QString summary(const std::vector<QString>& fileNames,
                         const std::vector<PhoneResult>& results);

 Q_SIGNALS:
  // For the send display to mirror a job's sends.
  void jobStarted();
  // `progress` counts the bytes of the whole job for this phone.
  void jobProgress(const QString& peerName, const ferrytide::menu::SendPhase::Progress& progress,
                   bool waking);
  // `failures` holds one text per phone that did not get every file.
  // `outcome` is the job as the send display shows it: done when every phone got every file.
  void jobFinished(bool anythingSent, const QString& title, const QStringList& failures,
                   const ferrytide::menu::SendPhase& outcome);
  // A pass over the waiting jobs has ended.
  void drained();

 private:
  struct Job;

  void drain();
  void processNext();
  std::optional<Job> prepare(const std::filesystem::path& folder);
  std::vector<PeerRecord> targets(const ShareOutbox::Manifest& manifest) const;
  void send(Job job);
  void finish(const Job& job, const std::vector<PhoneOutcome>& outcomes);
  SendPhase outcomeOf(const Job& job, const std::vector<PhoneResult>& results,
                      const QString& title) const;
  void setAside(const std::filesystem::path& folder, const QString& body);
  QString failureText(std::exception_ptr failure, const QString& name) const;

  AppState& appState_;
  Notifier& notifier_;
  PeerSync& peerSync_;
  CoreRuntime& runtime_;
  Options options_;
  std::shared_ptr<InFlightJournal> journal_;
  QFileSystemWatcher watcher_;
  QTimer timer_;
  std::deque<std::filesystem::path> queue_;
  bool started_ = false;
  bool draining_ = false;
  bool drainAgain_ = false;
};

}  // namespace ferrytide::menu
