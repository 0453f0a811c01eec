#include "plinth_updates/updater.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QSettings>
#include <QUrl>
#include <algorithm>

#include "core/support/log.h"
#include "plinth_updates/app_version.h"
#include "plinth_updates/update_engine.h"

namespace plinth {

namespace {

const ferrytide::Logger kLog("updates");

const QString kAutomaticallyInstalls = QStringLiteral("automaticallyInstallsUpdates");
const QString kLastChecked = QStringLiteral("lastUpdateCheck");
const QString kSkippedVersion = QStringLiteral("skippedUpdateVersion");
const QString kFeedOverride = QStringLiteral("updateFeedURL");
const QString kTrustRoot = QStringLiteral("updateCAFile");
constexpr std::chrono::seconds kRestartPoll{2};

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

bool startDetached(const std::filesystem::path& program) {
  QStringList arguments = QCoreApplication::arguments();
  if (!arguments.isEmpty()) arguments.removeFirst();
  return QProcess::startDetached(QString::fromStdString(program.string()), arguments);
}

}  // namespace

Updater::Updater(QString appName, std::function<void(const QString&)> onBackgroundUpdateFound,
                 UpdaterOptions options, QObject* parent)
    : QObject(parent),
      appName_(std::move(appName)),
      onBackgroundUpdateFound_(std::move(onBackgroundUpdateFound)),
      options_(std::move(options)),
      settings_(std::make_unique<QSettings>(options_.settingsFile, QSettings::IniFormat)),
      driver_(*this) {
  if (settings_->contains(kFeedOverride)) {
    events_.feedURLOverride = settings_->value(kFeedOverride).toString().toStdString();
  }
  if (settings_->contains(kTrustRoot)) {
    options_.config.caFile = settings_->value(kTrustRoot).toString().toStdString();
  }
  UpdaterConfig config = options_.config;
  config.feedUrl = events_.feedURLString(config.feedUrl);
  if (!config.usable() || options_.http == nullptr) {
    startError_ = QStringLiteral("Updates aren't set up in this build");
    kLog.warning(appName_.toStdString() + " updater failed to start: " +
                 "no update feed or signing key in this build");
    return;
  }
  if (!options_.relaunch) options_.relaunch = startDetached;
  if (!options_.openPage) {
    options_.openPage = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
  }
  QPointer<Updater> self(this);
  UpdateEngineOptions engineOptions{
      .config = config,
      .location = options_.location,
      .channels = {},
      .relaunch = [self](const std::filesystem::path& program) {
        // Restarting waits for the main thread and for transfers; it is not refused here.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, program] {
              if (self) self->restartInto(program);
            },
            Qt::QueuedConnection);
        return true;
      }};
  engine_ = std::make_unique<UpdateEngine>(options_.network, *options_.http,
                                           std::move(engineOptions), driver_);
  engine_->setSkippedVersion(settings_->value(kSkippedVersion).toString().toStdString());
  scheduleChecks();
}

Updater::~Updater() = default;

QString Updater::reopenAfterInstallKey() {
  return QStringLiteral("com.quenfold.ferrytide.reopenUpdatesAfterInstall");
}

bool Updater::takeReopenAfterInstall(const QString& settingsFile) {
  QSettings settings(settingsFile, QSettings::IniFormat);
  bool reopen = settings.value(reopenAfterInstallKey(), false).toBool();
  settings.remove(reopenAfterInstallKey());
  settings.sync();
  return reopen;
}

void Updater::markReopenAfterInstall() {
  settings_->setValue(reopenAfterInstallKey(), true);
  settings_->sync();
}

bool Updater::automaticallyInstalls() const {
  return settings_->value(kAutomaticallyInstalls, true).toBool();
}

void Updater::setAutomaticallyInstalls(bool on) {
  settings_->setValue(kAutomaticallyInstalls, on);
  settings_->sync();
  Q_EMIT changed();
}

std::optional<QDateTime> Updater::lastChecked() const {
  QDateTime when = QDateTime::fromString(settings_->value(kLastChecked).toString(), Qt::ISODate);
  if (!when.isValid()) return std::nullopt;
  return when;
}

void Updater::noteChecked() {
  settings_->setValue(kLastChecked, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
  settings_->sync();
}

bool Updater::canCheckForUpdates() const { return engine_ && engine_->canCheckForUpdates(); }

void Updater::checkNow() {
  if (!canCheckForUpdates()) return;
  engine_->checkForUpdates(true);
}

void Updater::backgroundCheck() {
  if (canCheckForUpdates()) engine_->checkForUpdates(false);
  checkTimer_.start(static_cast<int>(options_.checkInterval.count()));
}

void Updater::scheduleChecks() {
  checkTimer_.setSingleShot(true);
  connect(&checkTimer_, &QTimer::timeout, this, &Updater::backgroundCheck);
  std::chrono::milliseconds wait = options_.firstCheckDelay;
  if (std::optional<QDateTime> last = lastChecked()) {
    qint64 untilDue = QDateTime::currentDateTimeUtc().msecsTo(
        last->addMSecs(static_cast<qint64>(options_.checkInterval.count())));
    wait = std::max(wait, std::chrono::milliseconds(untilDue));
  }
  checkTimer_.start(static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
}

void Updater::install() {
  if (checkState_ != CheckState::available) return;
  if (installKind() == InstallKind::packageManager || offered_->url.empty()) {
    openOfferedPage();
    return;
  }
  driver_.answer(UpdateChoice::install);
}

void Updater::skip() {
  if (checkState_ != CheckState::available) return;
  settings_->setValue(kSkippedVersion, offered_ ? fromStd(offered_->version) : QString());
  settings_->sync();
  driver_.answer(UpdateChoice::skip);
}

void Updater::remindLater() {
  if (checkState_ == CheckState::available) driver_.answer(UpdateChoice::dismiss);
}

void Updater::updateInFocus() { driver_.showUpdateInFocus(); }

QString Updater::releaseNotesLink() const {
  return offered_ ? fromStd(offered_->releaseNotesLink) : QString();
}

QString Updater::downloadPage() const {
  return offered_ ? fromStd(offered_->downloadPage) : QString();
}

void Updater::openOfferedPage() const {
  QString page = releaseNotesLink().isEmpty() ? downloadPage() : releaseNotesLink();
  if (!page.isEmpty()) options_.openPage(page);
}

void Updater::openDownloadPage() const {
  if (!downloadPage().isEmpty()) options_.openPage(downloadPage());
}

void Updater::setCheckState(CheckState state) {
  checkState_ = state;
  Q_EMIT changed();
}

void Updater::setProgress(std::optional<double> progress) { progress_ = progress; }

void Updater::setHistory(std::vector<AppcastItem> items) {
  // Only versions meant for this computer: another platform's or a test channel's notes would
  // describe releases it never gets.
  std::erase_if(items, [](const AppcastItem& item) {
    return !item.channel.empty() || (!item.url.empty() && item.os != "linux");
  });
  std::stable_sort(items.begin(), items.end(), [](const AppcastItem& a, const AppcastItem& b) {
    return compareVersions(a.version, b.version) > 0;
  });
  history_ = std::move(items);
}

void Updater::foundUpdate(const AppcastItem& item, bool userInitiated) {
  noteChecked();
  offered_ = item;
  offeredVersion_ = fromStd(item.displayVersion);
  setCheckState(CheckState::available);
  if (userInitiated) return;
  bool installable = installKind() == InstallKind::selfContained && !item.url.empty();
  if (installable && automaticallyInstalls()) {
    driver_.answer(UpdateChoice::installQuietly);
    return;
  }
  if (onBackgroundUpdateFound_) onBackgroundUpdateFound_(offeredVersion_);
}

void Updater::failed(const QString& description) {
  noteChecked();
  failure_ = description;
  kLog.error("Update error: " + description.toStdString());
  setCheckState(CheckState::failed);
}

void Updater::installed(bool relaunched) {
  if (relaunched) return;  // the new copy takes over and this one quits
  installedForNextStart_ = offeredVersion_;
  offered_.reset();
  setCheckState(CheckState::idle);
}

void Updater::restartInto(const std::filesystem::path& program) {
  if (options_.transferInProgress()) {
    // Never in the middle of a transfer: the new copy starts once it is over.
    QTimer::singleShot(kRestartPoll, this, [this, program] { restartInto(program); });
    return;
  }
  markReopenAfterInstall();
  if (!options_.relaunch(program)) {
    failed(QStringLiteral("cannot start ") + QString::fromStdString(program.string()));
  }
}

}  // namespace plinth
