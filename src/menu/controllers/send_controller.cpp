#include "menu/controllers/send_controller.h"

#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

#include "core/support/base64.h"
#include "core/support/log.h"
#include "core/transfer/in_flight_journal.h"
#include "core/transfer/send_error.h"
#include "menu/models/app_state.h"
#include "menu/models/main_thread.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"

namespace ferrytide::menu {
namespace {

using SteadyClock = std::chrono::steady_clock;

const Logger kLog("send");

QString text(const std::string& value) { return QString::fromStdString(value); }

std::optional<SendError::Kind> sendErrorKind(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const SendError& error) {
    return error.kind();
  } catch (...) {
    return std::nullopt;
  }
}

// 0 for a file whose size cannot be read: it still goes out, the bar just does not count it.
std::int64_t sizeOf(const std::filesystem::path& file) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

QString unreachedMessage(const std::vector<SendOutcome>& unreached) {
  QStringList names;
  for (const SendOutcome& outcome : unreached) names << outcome.name;
  const QString pronoun = names.size() == 1 ? QStringLiteral("it's") : QStringLiteral("they're");
  return QStringLiteral("Couldn't reach ") + QLocale().createSeparatedList(names) +
         QStringLiteral(". Check that ") + pronoun + QStringLiteral(" on the same Wi-Fi.");
}

SendOutcome outcomeOf(const PeerRecord& phone, const QString& name, SendOutcome::Result result,
                      const QString& error) {
  SendOutcome outcome;
  outcome.peerPubkey = text(phone.peer_pubkey);
  outcome.name = name;
  outcome.peer = phone;
  outcome.result = result;
  outcome.error = error;
  return outcome;
}

asio::awaitable<SentFile> sendFile(std::filesystem::path file, PeerRecord phone,
                                   crypto::X25519PrivateKey key,
                                   std::shared_ptr<InFlightJournal> journal,
                                   std::shared_ptr<SendProgressBridge> bridge,
                                   SendFileOptions options) {
  options.progress = bridge.get();
  asio::awaitable<SentFile> sending =
      sendOneFile(std::move(file), std::move(phone), std::move(key), *journal, std::move(options));
  co_return co_await std::move(sending);
}

}  // namespace

// One accepted send, from start to summary. Main thread only, except the cancel flag, which the
// sending coroutine reads before every chunk.
struct SendController::Run {
  std::vector<std::filesystem::path> files;
  std::vector<std::int64_t> sizes;
  std::int64_t bytesTotal = 0;
  std::vector<PeerRecord> phones;
  std::vector<QString> names;
  std::vector<SendOutcome> notPaired;
  bool job = false;
  JobDone done;
  std::optional<crypto::X25519PrivateKey> key;
  std::string selfPubkey;
  std::shared_ptr<std::atomic<bool>> cancelFlag = std::make_shared<std::atomic<bool>>(false);
  SteadyClock::time_point startedAt = SteadyClock::now();

  // Where the send stands: the phone and file in flight, and the bytes of this phone's
  // earlier files.
  std::size_t phone = 0;
  std::size_t file = 0;
  std::int64_t base = 0;
  std::vector<SentFile> sentToPhone;
  int filesSent = 0;
  std::int64_t bytesSent = 0;
  SendReport report;

  bool cancelled() const { return cancelFlag->load(); }
};

SendController::SendController(AppState& appState, PeerSync& peerSync, Notifier& notifier,
                               CoreRuntime& runtime, Options options, QObject* parent)
    : QObject(parent),
      appState_(appState),
      peerSync_(peerSync),
      notifier_(notifier),
      runtime_(runtime),
      options_(std::move(options)),
      journal_(std::make_shared<InFlightJournal>(options_.journalFile)) {}

// A send in flight is cancelled by the runtime with its owner, and reports nothing.
SendController::~SendController() = default;

bool SendController::send(const std::vector<std::filesystem::path>& files,
                          const std::vector<PeerRecord>& phones) {
  if (busy() || files.empty() || phones.empty()) return false;
  start(files, phones, {}, {}, /*job=*/false);
  return true;
}

SendController::JobStart SendController::sendJob(const std::vector<std::filesystem::path>& files,
                                                 const QStringList& peerPubkeys, JobDone done) {
  if (busy()) return JobStart::busy;
  std::vector<PeerRecord> phones;
  std::vector<SendOutcome> notPaired;
  for (const QString& pubkey : peerPubkeys) {
    auto isThisKey = [&](const PeerRecord& peer) { return text(peer.peer_pubkey) == pubkey; };
    if (std::any_of(phones.begin(), phones.end(), isThisKey)) continue;
    const std::vector<PeerRecord>& peers = appState_.peers();
    auto found = std::find_if(peers.begin(), peers.end(), isThisKey);
    if (found != peers.end()) {
      phones.push_back(*found);
    } else {
      SendOutcome outcome;
      outcome.peerPubkey = pubkey;
      outcome.result = SendOutcome::Result::notPaired;
      outcome.remaining = files;
      notPaired.push_back(std::move(outcome));
    }
  }
  if (files.empty() || phones.empty()) return JobStart::nothingToSend;
  start(files, phones, std::move(notPaired), std::move(done), /*job=*/true);
  return JobStart::started;
}

void SendController::start(const std::vector<std::filesystem::path>& files,
                           const std::vector<PeerRecord>& phones,
                           std::vector<SendOutcome> notPaired, JobDone done, bool job) {
  auto run = std::make_unique<Run>();
  run->files = files;
  run->phones = phones;
  run->notPaired = std::move(notPaired);
  run->done = std::move(done);
  run->job = job;
  for (const PeerRecord& phone : phones) run->names.push_back(appState_.displayName(phone));
  for (const std::filesystem::path& file : files) {
    run->sizes.push_back(sizeOf(file));
    run->bytesTotal += run->sizes.back();
  }
  try {
    run->key = options_.keyVault.loadOrCreate();
  } catch (const std::exception& error) {
    kLog.error(std::string("this computer's key: ") + error.what());
    return failToStart(std::move(run));
  }
  run->selfPubkey = base64::encode(run->key->publicKey().view());
  run_ = std::move(run);
  next();
}

void SendController::failToStart(std::unique_ptr<Run> run) {
  const QString message = QStringLiteral("This computer's key couldn't be loaded.");
  setPhase(Phase::Failed{message, run->names.front()});
  SendReport report;
  report.failure = message;
  for (std::size_t i = 0; i < run->phones.size(); ++i) {
    report.phones.push_back(
        outcomeOf(run->phones[i], run->names[i], SendOutcome::Result::notStarted, message));
    report.phones.back().remaining = run->files;
  }
  for (SendOutcome& outcome : run->notPaired) report.phones.push_back(std::move(outcome));
  // The caller hears of it after send() or sendJob() has returned, as of every other end.
  QTimer::singleShot(0, this, [this, report, done = run->done] { deliver(report, done); });
}

void SendController::next() {
  Run& run = *run_;
  while (run.phone < run.phones.size() && !run.cancelled()) {
    if (run.file == 0 && pairedWithEarlierKey(run.phones[run.phone])) {
      // Its handshake could never succeed: no connection is tried.
      endPhone(SendOutcome::Result::unreached,
               QStringLiteral("It was paired with an earlier key of this computer. Pair it again "
                              "to send to it."));
    } else if (run.file < run.files.size()) {
      return sendCurrentFile();
    } else {
      endPhone(SendOutcome::Result::sent);
    }
  }
  summarise();
}

bool SendController::pairedWithEarlierKey(const PeerRecord& phone) const {
  return !phone.self_pubkey.empty() && phone.self_pubkey != run_->selfPubkey;
}

void SendController::sendCurrentFile() {
  Run& run = *run_;
  const std::uint64_t step = ++step_;
  const Progress progress{.fileIndex = static_cast<int>(run.file) + 1,
                          .fileCount = static_cast<int>(run.files.size()),
                          .bytesDone = run.base,
                          .bytesTotal = run.bytesTotal};
  setPhase(Phase::Running{run.names[run.phone], progress});

  QPointer<SendController> self(this);
  auto emit = [self, step](bool waking, const Progress& update) {
    postToMainThread([self, step, waking, update] {
      if (self) self->applyProgress(step, waking, update);
    });
  };
  auto bridge = std::make_shared<SendProgressBridge>(run.base, progress, std::move(emit),
                                                     options_.progressInterval, options_.clock);
  SendFileOptions fileOptions = options_.file;
  fileOptions.cancel = [flag = run.cancelFlag] { return flag->load(); };
  task_ = runtime_.start(
      this,
      sendFile(run.files[run.file], run.phones[run.phone], *run.key, journal_, std::move(bridge),
               std::move(fileOptions)),
      [this](SentFile sent) { fileArrived(sent); },
      [this](std::exception_ptr failure) { fileFailed(failure); });
}

void SendController::fileArrived(const SentFile& sent) {
  task_.reset();
  Run& run = *run_;
  const PeerRecord phone = run.phones[run.phone];
  const std::filesystem::path file = run.files[run.file];
  ++run.filesSent;
  run.bytesSent += sent.bytesSent;
  run.base += run.sizes[run.file];
  run.sentToPhone.push_back(sent);
  ++run.file;
  appState_.recordFile(FileLog{.id = QUuid::createUuid(),
                               .url = file,
                               .bytes = sent.bytesSent,
                               .date = QDateTime::currentDateTimeUtc(),
                               .direction = FileLog::Direction::sent,
                               .peerName = run.names[run.phone],
                               .peerPubkey = text(phone.peer_pubkey)});
  Q_EMIT fileSent(file, sent.bytesSent, phone);
  next();
}

void SendController::fileFailed(std::exception_ptr failure) {
  task_.reset();
  Run& run = *run_;
  if (run.cancelled()) return summarise();
  const PeerRecord phone = run.phones[run.phone];
  const QString error = CoreRuntime::describe(failure);
  kLog.warning("send failed → " + run.names[run.phone].toStdString() + ": " + error.toStdString());
  const std::optional<SendError::Kind> kind = sendErrorKind(failure);
  if (kind == SendError::Kind::declined || kind == SendError::Kind::peerRemoved) {
    // Peer sync tells the user (and forgets a phone that removed this computer); the phone
    // is not counted as unreached, since trying again would not help.
    endPhone(kind == SendError::Kind::declined ? SendOutcome::Result::declined
                                               : SendOutcome::Result::removed,
             error);
    peerSync_.noteSendError(failure, phone);
  } else {
    endPhone(SendOutcome::Result::unreached, error);
  }
  next();
}

void SendController::endPhone(SendOutcome::Result result, const QString& error) {
  Run& run = *run_;
  const PeerRecord& phone = run.phones[run.phone];
  SendOutcome outcome = outcomeOf(phone, run.names[run.phone], result, error);
  outcome.sent = std::exchange(run.sentToPhone, {});
  outcome.remaining.assign(run.files.begin() + static_cast<std::ptrdiff_t>(run.file),
                           run.files.end());
  run.report.phones.push_back(std::move(outcome));
  ++run.phone;
  run.file = 0;
  run.base = 0;
}

void SendController::summarise() {
  const bool cancelled = run_->cancelled();
  while (run_->phone < run_->phones.size()) endPhone(SendOutcome::Result::cancelled);
  std::unique_ptr<Run> run = std::move(run_);
  task_.reset();
  ++step_;
  SendReport& report = run->report;
  report.cancelled = cancelled;
  for (SendOutcome& outcome : run->notPaired) report.phones.push_back(std::move(outcome));

  std::vector<SendOutcome> unreached;
  for (const SendOutcome& outcome : report.phones) {
    if (outcome.result == SendOutcome::Result::unreached) unreached.push_back(outcome);
  }
  if (cancelled) {
    setPhase(Phase::Idle{});
  } else if (!unreached.empty()) {
    setPhase(Phase::Failed{unreachedMessage(unreached), unreached.front().name});
    if (!run->job) notifyUnreached(unreached);
  } else {
    const double duration =
        std::chrono::duration<double>(SteadyClock::now() - run->startedAt).count();
    const QString name = run->phones.size() == 1
                             ? run->names.front()
                             : QString::number(run->phones.size()) + QStringLiteral(" phones");
    setPhase(Phase::Done{run->filesSent, run->bytesSent, duration, name});
  }
  deliver(report, run->done);
}

void SendController::deliver(const SendReport& report, const JobDone& done) {
  Q_EMIT finished(report);
  if (done) done(report);
}

void SendController::notifyUnreached(const std::vector<SendOutcome>& unreached) {
  QPointer<SendController> self(this);
  for (const SendOutcome& outcome : unreached) {
    notifier_.sendFailed(outcome.name, [self, outcome] {
      if (self) self->retry(outcome);
    });
  }
}

void SendController::retry(const SendOutcome& outcome) {
  // The phone as it is paired now: its address may have changed since.
  PeerRecord phone = *outcome.peer;
  for (const PeerRecord& peer : appState_.peers()) {
    if (peer.peer_pubkey == phone.peer_pubkey) phone = peer;
  }
  if (send(outcome.remaining, {phone})) return;
  if (busy()) {
    notifier_.message(QStringLiteral("Still sending"),
                      QStringLiteral("Try again when the current transfer finishes."));
  }
}

void SendController::cancel() {
  if (!run_) return;
  run_->cancelFlag->store(true);
  if (task_) task_->cancel();
}

void SendController::resetPhase() {
  if (!phase_.busy()) setPhase(Phase::Idle{});
}

void SendController::applyProgress(std::uint64_t step, bool waking, const Progress& progress) {
  // Late updates of an earlier file, or of a send that has ended, are dropped.
  if (step != step_ || !phase_.busy()) return;
  if (phase_.progress()->bytesDone > progress.bytesDone) return;
  const QString name = *phase_.busyPeerName();
  setPhase(waking ? Phase(Phase::Waking{name, progress}) : Phase(Phase::Running{name, progress}));
}

bool SendController::mirrorStart() {
  if (busy()) return false;
  mirroring_ = true;
  return true;
}

void SendController::mirrorProgress(const QString& peerName, const Progress& progress,
                                    bool waking) {
  if (!mirroring_) return;
  if (phase_.busy() && *phase_.busyPeerName() == peerName &&
      phase_.progress()->bytesDone > progress.bytesDone) {
    return;
  }
  setPhase(waking ? Phase(Phase::Waking{peerName, progress})
                  : Phase(Phase::Running{peerName, progress}));
}

void SendController::mirrorEnd(const Phase& outcome) {
  if (!mirroring_) return;
  mirroring_ = false;
  // A busy phase would leave the card spinning with nothing running.
  setPhase(outcome.busy() ? Phase(Phase::Idle{}) : outcome);
}

void SendController::setPhase(Phase phase) {
  if (phase == phase_) return;
  phase_ = std::move(phase);
  Q_EMIT phaseChanged(phase_);
}

}  // namespace ferrytide::menu
