#include "menu/windows/settings_updates_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "menu/windows/settings_row.h"
#include "menu/windows/version_history_dialog.h"
#include "plinth_reports/report_config.h"
#include "plinth_updates/updater.h"

namespace ferrytide::menu {

namespace {

using ::plinth::InstallKind;
using ::plinth::Updater;
using CheckState = ::plinth::Updater::CheckState;

bool packageManaged(const Updater& updater) {
  return updater.installKind() == InstallKind::packageManager;
}

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

QString SettingsUpdatesPage::subtitle(const Updater* updater) {
  if (updater != nullptr && updater->available() && !packageManaged(*updater)) {
    return QStringLiteral("Ferrytide updates itself, quietly.");
  }
  return QStringLiteral("Ferrytide updates come with your system, quietly.");
}

SettingsUpdatesPage::SettingsUpdatesPage(Updater* updater, QWidget* parent)
    : QWidget(parent), updater_(updater) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  if (updater_ != nullptr && updater_->available()) {
    column->addWidget(makeStatusCard());
    connect(updater_, &Updater::changed, this, &SettingsUpdatesPage::showState);
    updater_->updateInFocus();
    showState();
  }
  column->addWidget(makeInstalledCard());
  column->addStretch(1);
}

QWidget* SettingsUpdatesPage::makeStatusCard() {
  status_ = new SettingsRow(QString(), QString(), this);
  status_->titleLabel()->setObjectName(QStringLiteral("updateStatusLabel"));
  status_->subtitleLabel()->setObjectName(QStringLiteral("updateDetailLabel"));
  status_->noteLabel()->setObjectName(QStringLiteral("updateFailureLabel"));
  busy_ = new QProgressBar(status_);
  busy_->setObjectName(QStringLiteral("updateProgress"));
  busy_->setAccessibleName(QStringLiteral("Update progress"));
  busy_->setTextVisible(false);
  busy_->setFixedWidth(120);
  status_->addTrailing(busy_);

  install_ = makeButton(QStringLiteral("Install"), "installUpdateButton", status_);
  connect(install_, &QPushButton::clicked, updater_, &Updater::install);
  status_->addTrailing(install_);
  downloadPage_ = makeButton(QStringLiteral("Download Page"), "downloadPageButton", status_);
  connect(downloadPage_, &QPushButton::clicked, this,
          [this] { updater_->openDownloadPage(); });
  status_->addTrailing(downloadPage_);
  more_ = new QToolButton(status_);
  more_->setObjectName(QStringLiteral("moreUpdateOptions"));
  more_->setAccessibleName(QStringLiteral("More update options"));
  more_->setToolTip(QStringLiteral("More update options"));
  more_->setArrowType(Qt::DownArrow);
  more_->setPopupMode(QToolButton::InstantPopup);
  auto* options = new QMenu(more_);
  options->addAction(QStringLiteral("Skip This Version"), updater_, &Updater::skip)
      ->setObjectName(QStringLiteral("skipVersionAction"));
  options->addAction(QStringLiteral("Remind Me Later"), updater_, &Updater::remindLater)
      ->setObjectName(QStringLiteral("remindLaterAction"));
  more_->setMenu(options);
  status_->addTrailing(more_);
  checkNow_ = makeButton(QStringLiteral("Check now"), "checkNowButton", status_);
  connect(checkNow_, &QPushButton::clicked, updater_, &Updater::checkNow);
  status_->addTrailing(checkNow_);

  SettingsRow* automatic = nullptr;
  if (packageManaged(*updater_)) {
    automatic = new SettingsRow(
        QStringLiteral("Installed by your package manager"),
        QStringLiteral("Checks once a day and tells you about new versions; your package "
                       "manager installs them."),
        this);
  } else {
    automatic = new SettingsRow(QStringLiteral("Install updates automatically"),
                                QStringLiteral("Checks once a day. Never interrupts a transfer."),
                                this);
    automatic_ = new QCheckBox(automatic);
    automatic_->setObjectName(QStringLiteral("automaticUpdatesSwitch"));
    automatic_->setAccessibleName(automatic->titleLabel()->text());
    automatic_->setAccessibleDescription(automatic->subtitleLabel()->text());
    automatic_->setChecked(updater_->automaticallyInstalls());
    connect(automatic_, &QCheckBox::toggled, updater_, &Updater::setAutomaticallyInstalls);
    automatic->addTrailing(automatic_);
  }

  auto* history = new SettingsRow(QStringLiteral("Version History"),
                                  QStringLiteral("What changed in each version."), this);
  QPushButton* show = makeButton(QStringLiteral("Show…"), "versionHistoryButton", history);
  show->setAccessibleName(QStringLiteral("Version History"));
  connect(show, &QPushButton::clicked, this, [this] {
    auto* dialog = new VersionHistoryDialog(updater_->versionHistory(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
  });
  history->addTrailing(show);
  return settingsCard(this, {status_, automatic, history});
}

QWidget* SettingsUpdatesPage::makeInstalledCard() {
  QList<QWidget*> rows;
  if (updater_ == nullptr || !updater_->available()) {
    auto* source = new SettingsRow(
        updater_ != nullptr ? updater_->startError()
                            : QStringLiteral("Updates aren't set up in this build"),
        QStringLiteral("New versions arrive with your system's other updates."));
    source->titleLabel()->setObjectName(QStringLiteral("updateSourceLabel"));
    rows.append(source);
  }
  // The build's own version, which holds even before the application object names it.
  ::plinth::ReportConfig build = ::plinth::ReportConfig::fromBuild();
  auto* version = new SettingsRow(QStringLiteral("Installed"),
                                  QStringLiteral("Version ") + QString::fromStdString(build.version) +
                                      QStringLiteral(" (") + QString::fromStdString(build.build) +
                                      QStringLiteral(")"));
  version->subtitleLabel()->setObjectName(QStringLiteral("installedVersionLabel"));
  if (rows.isEmpty()) return settingsCard(this, {version});
  return settingsCard(this, {rows.front(), version});
}

QString SettingsUpdatesPage::lastCheckedText() const {
  std::optional<QDateTime> last = updater_->lastChecked();
  if (!last) return QStringLiteral("Not checked yet.");
  return QStringLiteral("Last checked ") +
         QLocale().toString(last->toLocalTime(), QLocale::ShortFormat) + QStringLiteral(".");
}

void SettingsUpdatesPage::showBusy(std::optional<double> progress) {
  busy_->setVisible(true);
  busy_->setRange(0, progress ? 1000 : 0);
  if (progress) busy_->setValue(static_cast<int>(*progress * 1000));
}

void SettingsUpdatesPage::showOffer() {
  status_->setTitle(updater_->offeredVersion() + QStringLiteral(" is available"));
  bool fromPackages = packageManaged(*updater_);
  status_->setSubtitle(fromPackages ? QStringLiteral("Install it with your package manager.")
                                    : QStringLiteral("Ready to install. ") + updater_->appName() +
                                          QStringLiteral(" reopens afterwards."));
  install_->setText(fromPackages ? QStringLiteral("Release Notes") : QStringLiteral("Install"));
  install_->setVisible(!fromPackages || !updater_->releaseNotesLink().isEmpty());
  downloadPage_->setVisible(fromPackages && !updater_->downloadPage().isEmpty());
  more_->setVisible(true);
}

void SettingsUpdatesPage::showState() {
  for (QWidget* control : {static_cast<QWidget*>(busy_), static_cast<QWidget*>(install_),
                           static_cast<QWidget*>(downloadPage_), static_cast<QWidget*>(more_),
                           static_cast<QWidget*>(checkNow_)}) {
    control->setVisible(false);
  }
  status_->setNote(QString());
  checkNow_->setEnabled(updater_->canCheckForUpdates());
  switch (updater_->checkState()) {
    case CheckState::available:
      showOffer();
      return;
    case CheckState::downloading:
      status_->setTitle(QStringLiteral("Updating to ") + updater_->offeredVersion());
      status_->setSubtitle(QStringLiteral("Downloading and checking its signature."));
      showBusy(updater_->progress());
      return;
    case CheckState::installing:
      status_->setTitle(updater_->appName() + QStringLiteral(" will reopen in a moment."));
      status_->setSubtitle(QStringLiteral("Installing ") + updater_->offeredVersion() +
                           QStringLiteral("."));
      showBusy(std::nullopt);
      return;
    case CheckState::checking:
      status_->setTitle(QStringLiteral("Checking for updates"));
      status_->setSubtitle(lastCheckedText());
      showBusy(std::nullopt);
      return;
    case CheckState::upToDate:
      status_->setTitle(QStringLiteral("You're up to date"));
      break;
    case CheckState::failed:
      status_->setTitle(QStringLiteral("Couldn't check for updates"));
      status_->setSubtitle(QStringLiteral("Check your internet connection, then try again."));
      status_->setNote(updater_->failure());
      checkNow_->setVisible(true);
      return;
    case CheckState::idle:
      if (!updater_->installedForNextStart().isEmpty()) {
        status_->setTitle(updater_->installedForNextStart() + QStringLiteral(" is installed"));
        status_->setSubtitle(QStringLiteral("It starts the next time Ferrytide opens."));
        checkNow_->setVisible(true);
        return;
      }
      status_->setTitle(QStringLiteral("Updates"));
      break;
  }
  status_->setSubtitle(lastCheckedText());
  checkNow_->setVisible(true);
}

}  // namespace ferrytide::menu
