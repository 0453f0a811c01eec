#include "menu/controllers/outbox_watcher.h"

#include <QPointer>

#include "core/support/log.h"
#include "core/transfer/send_error.h"
#include "menu/models/app_state.h"
#include "menu/models/main_thread.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"

namespace ferrytide::menu {
namespace fs = std::filesystem;

namespace {

const Logger kLog("outbox");
const QString kNotSent = QStringLiteral("Not sent");

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

QString joined(const QStringList& names) { return names.join(QStringLiteral(", ")); }

std::int64_t sizeOrZero(const fs::path& file) {
  std::error_code error;
  auto size = fs::file_size(file, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

// Called on the network thread with the bytes done across all the job's files for one phone.
using ReportProgress = std::function<void(bool waking, std::int64_t done, std::int64_t total)>;

// One file's progress as part of a job's total for one phone.
class JobFileProgress final : public SendProgress {
 public:
  JobFileProgress(const ReportProgress& report, std::int64_t before, std::int64_t total)
      : report_(report), before_(before), total_(total) {}
  void onWaking() override { report_(true, before_, total_); }
  void onProgress(std::int64_t bytesSent, std::int64_t /*fileBytes*/) override {
    report_(false, before_ + bytesSent, total_);
  }

 private:
  const ReportProgress& report_;
  std::int64_t before_;
  std::int64_t total_;
};

// Jobs in the order they were shared: by the time their manifest, written last, appeared.
std::vector<fs::path> oldestFirst(std::vector<fs::path> jobs) {
  auto sharedAt = [](const fs::path& job) {
    std::error_code error;
    return fs::last_write_time(job / std::string(ShareOutbox::manifestName), error);
  };
  std::vector<std::pair<fs::file_time_type, fs::path>> dated;
  for (fs::path& job : jobs) dated.emplace_back(sharedAt(job), std::move(job));
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<fs::path> sorted;
  for (auto& [time, job] : dated) sorted.push_back(std::move(job));
  return sorted;
}

}  // namespace

struct OutboxWatcher::Job {
  fs::path folder;
  std::vector<fs::path> files;
  std::vector<PeerRecord> phones;
  crypto::X25519PrivateKey key;
  std::chrono::steady_clock::time_point started;
};

namespace {

// Each phone in turn, each file in turn; a phone that fails is left for the next one.
asio::awaitable<std::vector<OutboxWatcher::PhoneOutcome>> sendJob(
    std::vector<fs::path> files, std::vector<PeerRecord> phones, crypto::X25519PrivateKey key,
    std::shared_ptr<InFlightJournal> journal, SendFileOptions options,
    std::function<void(std::size_t phone, bool waking, const SendPhase::Progress&)> report) {
  std::int64_t total = 0;
  for (const fs::path& file : files) total += sizeOrZero(file);
  std::vector<OutboxWatcher::PhoneOutcome> outcomes(phones.size());
  for (std::size_t phone = 0; phone < phones.size(); ++phone) {
    int fileIndex = 0;
    const int fileCount = static_cast<int>(files.size());
    ReportProgress forPhone = [&report, &fileIndex, fileCount, phone](
                                  bool waking, std::int64_t done, std::int64_t all) {
      report(phone, waking, SendPhase::Progress{fileIndex, fileCount, done, all});
    };
    std::int64_t before = 0;
    for (const fs::path& file : files) {
      ++fileIndex;
      JobFileProgress progress(forPhone, before, total);
      SendFileOptions fileOptions = options;
      fileOptions.progress = &progress;
      try {
        co_await sendOneFile(file, phones[phone], key, *journal, fileOptions);
      } catch (...) {
        outcomes[phone].failure = std::current_exception();
        break;
      }
      ++outcomes[phone].filesSent;
      before += sizeOrZero(file);
    }
  }
  co_return outcomes;
}

}  // namespace

OutboxWatcher::OutboxWatcher(AppState& appState, Notifier& notifier, PeerSync& peerSync,
                             CoreRuntime& runtime, Options options, QObject* parent)
    : QObject(parent),
      appState_(appState),
      notifier_(notifier),
      peerSync_(peerSync),
      runtime_(runtime),
      options_(std::move(options)),
      journal_(std::make_shared<InFlightJournal>(options_.journalFile)) {
  options_.send.cancel = nullptr;
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &OutboxWatcher::drain);
  connect(&timer_, &QTimer::timeout, this, &OutboxWatcher::drain);
}

OutboxWatcher::~OutboxWatcher() = default;

SendFileOptions shareSendOptions() {
  using namespace std::chrono_literals;
  SendFileOptions options;
  options.connect = ConnectPlan{.warmConnectTimeout = 500ms,
                                .wakePause = 500ms,
                                .postWakeConnectTimeout = 15s,
                                .postWakeAttemptTimeout = 1s,
                                .postWakeRetryInterval = 500ms,
                                .maxPostWakeAttempts = 0};
  return options;
}

void OutboxWatcher::start() {
  if (started_) return;
  started_ = true;
  std::optional<fs::path> root = options_.outbox.outboxRoot();
  if (!root) {
    kLog.error("outbox container unavailable");
    return;
  }
  kLog.info("outbox container: " + root->string());
  std::error_code error;
  fs::create_directories(*root, error);
  if (error || !watcher_.addPath(QString::fromStdString(root->string()))) {
    kLog.warning("outbox not watched, scanned every " +
                 std::to_string(options_.scanInterval.count()) + " ms: " + root->string());
  }
  drain();
  timer_.start(options_.scanInterval);
}

void OutboxWatcher::drain() {
  if (draining_) {
    // Jobs laid down during a pass are taken right after it.
    drainAgain_ = true;
    return;
  }
  std::vector<fs::path> jobs = oldestFirst(options_.outbox.pendingJobs());
  if (jobs.empty()) return;
  draining_ = true;
  queue_.assign(jobs.begin(), jobs.end());
  processNext();
}

void OutboxWatcher::processNext() {
  while (!queue_.empty()) {
    fs::path folder = queue_.front();
    queue_.pop_front();
    if (std::optional<Job> job = prepare(folder)) return send(std::move(*job));
  }
  draining_ = false;
  Q_EMIT drained();
  if (std::exchange(drainAgain_, false)) drain();
}

std::optional<OutboxWatcher::Job> OutboxWatcher::prepare(const fs::path& folder) {
  if (!fs::exists(folder / std::string(ShareOutbox::manifestName))) return std::nullopt;
  ShareOutbox::Manifest manifest;
  try {
    manifest = options_.outbox.readManifest(folder);
  } catch (const ShareOutboxError& error) {
    kLog.error(std::string("unreadable manifest; job kept aside: ") + error.what());
    setAside(folder, QStringLiteral("The shared files couldn't be read. Share them again."));
    return std::nullopt;
  }
  std::vector<fs::path> files = options_.outbox.jobFiles(folder, manifest);
  if (files.empty()) {
    setAside(folder, QStringLiteral("The shared files were gone before they could be sent."));
    return std::nullopt;
  }
  appState_.reloadPeers();
  std::vector<PeerRecord> phones = targets(manifest);
  if (phones.empty()) {
    setAside(folder, QStringLiteral("No paired phone matched. Pair a phone, then share again."));
    return std::nullopt;
  }
  try {
    return Job{folder, std::move(files), std::move(phones), options_.keyVault.loadOrCreate(), {}};
  } catch (const std::exception& error) {
    kLog.error(std::string("key not loaded: ") + error.what());
    setAside(folder, QStringLiteral("This computer's key couldn't be loaded."));
    return std::nullopt;
  }
}

std::vector<PeerRecord> OutboxWatcher::targets(const ShareOutbox::Manifest& manifest) const {
  const std::vector<PeerRecord>& peers = appState_.peers();
  std::vector<PeerRecord> chosen;
  if (manifest.targetPubkeys && !manifest.targetPubkeys->empty()) {
    for (const std::string& pubkey : *manifest.targetPubkeys) {
      auto found = std::find_if(peers.begin(), peers.end(),
                                [&](const PeerRecord& peer) { return peer.peer_pubkey == pubkey; });
      if (found != peers.end()) chosen.push_back(*found);
    }
    return chosen;
  }
  std::string fallback = appState_.defaultOutboundPeerPubkey().toStdString();
  auto found = std::find_if(peers.begin(), peers.end(),
                            [&](const PeerRecord& peer) { return peer.peer_pubkey == fallback; });
  if (found != peers.end()) return {*found};
  if (!peers.empty()) return {peers.front()};
  return {};
}

void OutboxWatcher::send(Job job) {
  Q_EMIT jobStarted();
  std::vector<QString> names;
  for (const PeerRecord& phone : job.phones) names.push_back(appState_.displayName(phone));
  QPointer<OutboxWatcher> self(this);
  auto report = [self, names](std::size_t phone, bool waking,
                              const SendPhase::Progress& progress) {
    postToMainThread([self, name = names[phone], waking, progress] {
      if (self) Q_EMIT self->jobProgress(name, progress, waking);
    });
  };
  job.started = std::chrono::steady_clock::now();
  auto shared = std::make_shared<Job>(std::move(job));
  runtime_.start(
      this, sendJob(shared->files, shared->phones, shared->key, journal_, options_.send, report),
      [this, shared](std::vector<PhoneOutcome> outcomes) {
        finish(*shared, outcomes);
        processNext();
      },
      [this, shared](std::exception_ptr) {
        finish(*shared, std::vector<PhoneOutcome>(shared->phones.size()));
        processNext();
      });
}

void OutboxWatcher::finish(const Job& job, const std::vector<PhoneOutcome>& outcomes) {
  std::vector<PhoneResult> results;
  QStringList pairAgain;
  QStringList failures;
  bool anythingSent = false;
  for (std::size_t i = 0; i < job.phones.size(); ++i) {
    const PeerRecord& phone = job.phones[i];
    QString name = appState_.displayName(phone);
    results.push_back({name, outcomes[i].filesSent});
    anythingSent = anythingSent || outcomes[i].filesSent > 0;
    if (!outcomes[i].failure) continue;
    failures.push_back(failureText(outcomes[i].failure, name));
    if (peerSync_.noteSendError(outcomes[i].failure, phone)) pairAgain.push_back(name);
  }
  QString pairAgainText =
      QStringLiteral("Pair ") + joined(pairAgain) + QStringLiteral(" again to send to it.");
  QString title;
  if (!anythingSent) {
    title = kNotSent;
    notifier_.message(title, pairAgain.isEmpty()
                                 ? QStringLiteral("Couldn't reach your phone. Check that "
                                                  "it's on the same Wi-Fi.")
                                 : pairAgainText);
  } else {
    std::vector<QString> fileNames;
    for (const fs::path& file : job.files) fileNames.push_back(fromStd(file.filename().string()));
    title = summary(fileNames, results);
    if (!pairAgain.isEmpty()) title += QStringLiteral(". ") + pairAgainText;
    notifier_.message(title, QString());
  }
  Q_EMIT jobFinished(anythingSent, title, failures, outcomeOf(job, results, title));
  options_.outbox.removeJob(job.folder);
}

SendPhase OutboxWatcher::outcomeOf(const Job& job, const std::vector<PhoneResult>& results,
                                   const QString& title) const {
  const int fileCount = static_cast<int>(job.files.size());
  for (const PhoneResult& result : results) {
    if (result.filesSent < fileCount) return SendPhase::Failed{.message = title, .peerName = {}};
  }
  std::int64_t bytes = 0;
  for (const fs::path& file : job.files) bytes += sizeOrZero(file);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - job.started;
  return SendPhase::Done{
      .filesSent = fileCount,
      .totalBytes = bytes,
      .durationSeconds = took.count(),
      .peerName = results.size() == 1 ? results.front().name
                                      : QString::number(results.size()) + QStringLiteral(" phones")};
}

void OutboxWatcher::setAside(const fs::path& folder, const QString& body) {
  std::optional<fs::path> kept = options_.outbox.keepAside(folder);
  kLog.warning("job not sent (" + body.toStdString() + "), kept as " +
               (kept ? kept->string() : std::string("nothing")));
  notifier_.message(kNotSent, body);
}

QString OutboxWatcher::failureText(std::exception_ptr failure, const QString& name) const {
  try {
    std::rethrow_exception(failure);
  } catch (const SendError& error) {
    kLog.error("send failed → " + name.toStdString() + ": " + error.what());
    if (error.kind() == SendError::Kind::declined) return name + QStringLiteral(" declined.");
    if (error.kind() == SendError::Kind::peerRemoved) {
      return name + QStringLiteral(" removed this computer.");
    }
  } catch (const std::exception& error) {
    kLog.error("send failed → " + name.toStdString() + ": " + error.what());
  }
  return QStringLiteral("Couldn't reach ") + name +
         QStringLiteral(". Check that it's on the same Wi-Fi.");
}

QString OutboxWatcher::summary(const std::vector<QString>& fileNames,
                               const std::vector<PhoneResult>& results) {
  const auto files = static_cast<int>(fileNames.size());
  if (results.size() == 1) {
    const PhoneResult& only = results.front();
    if (only.filesSent < files) {
      return QStringLiteral("Sent %1 of %2 files to %3. Share the rest again.")
          .arg(only.filesSent)
          .arg(files)
          .arg(only.name);
    }
    if (files == 1)
      return QStringLiteral("Sent ") + fileNames.front() + QStringLiteral(" to ") + only.name;
    return QStringLiteral("Sent %1 files to %2").arg(files).arg(only.name);
  }
  QString word = files == 1 ? QStringLiteral("file") : QStringLiteral("files");
  bool everyPhoneGotAll = std::all_of(results.begin(), results.end(), [files](const auto& result) {
    return result.filesSent == files;
  });
  QStringList parts;
  for (const PhoneResult& result : results) {
    parts.push_back(
        everyPhoneGotAll
            ? result.name
            : QStringLiteral("%1 %2 of %3").arg(result.name).arg(result.filesSent).arg(files));
  }
  if (everyPhoneGotAll)
    return QStringLiteral("Sent %1 %2 to %3").arg(files).arg(word, joined(parts));
  return QStringLiteral("Shared %1 %2: %3").arg(files).arg(word, joined(parts));
}

}  // namespace ferrytide::menu
