#include "menu/windows/settings_general_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "menu/models/app_state.h"
#include "menu/models/clip_history.h"
#include "menu/windows/settings_dialogs.h"
#include "menu/windows/settings_row.h"
#include "platform/linux/login_item.h"

namespace ferrytide::menu {
namespace {

QString clipsWord(std::size_t count) {
  return count == 1 ? QStringLiteral(" clip") : QStringLiteral(" clips");
}

QPushButton* rowButton(SettingsRow* row, const QString& text, const QString& accessibleName,
                       const char* name) {
  auto* button = new QPushButton(text, row);
  button->setObjectName(QLatin1String(name));
  button->setAccessibleName(accessibleName);
  row->addTrailing(button);
  return button;
}

}  // namespace

SettingsGeneralPage::SettingsGeneralPage(AppState& appState, Preferences& prefs, ClipHistory& clips,
                                         const SettingsDialogs& dialogs, QWidget* parent)
    : QWidget(parent), appState_(appState), prefs_(prefs), clips_(clips), dialogs_(dialogs) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(14);
  column->addWidget(makeIdentityCard());
  column->addWidget(makeFilesCard());
  column->addWidget(makeAnnouncementsCard());
  column->addStretch(1);

  connect(&prefs_, &Preferences::deviceNameChanged, this, &SettingsGeneralPage::showComputerName);
  connect(&appState_, &AppState::receiveStatusChanged, this,
          &SettingsGeneralPage::showReceiveStatus);
  connect(&prefs_, &Preferences::saveFolderChanged, saveFolder_, &SettingsRow::setSubtitle);
  connect(&clips_, &ClipHistory::clipsChanged, this, &SettingsGeneralPage::showClipCount);
  connect(&prefs_, &Preferences::askBeforeReceivingChanged, this,
          [this](bool on) { askBeforeReceiving_->setSubtitle(askBeforeReceivingSubtitle(on)); });
  showComputerName();
  showReceiveStatus();
  showClipCount();
  showLoginItem();
}

QString SettingsGeneralPage::askBeforeReceivingSubtitle(bool on) {
  return on ? QStringLiteral("Accept or decline each file as it arrives.")
            : QStringLiteral("Files from your phones arrive without asking.");
}

QString SettingsGeneralPage::clipCountLine(std::size_t count) {
  return QString::number(count) + clipsWord(count) + QStringLiteral(" saved on this computer.");
}

QWidget* SettingsGeneralPage::makeIdentityCard() {
  computerName_ = new SettingsRow(QString(), QStringLiteral("Used when you pair a new phone."));
  computerName_->titleLabel()->setObjectName(QStringLiteral("computerNameLabel"));
  QPushButton* rename = rowButton(computerName_, QStringLiteral("Rename this computer"),
                                  QStringLiteral("Rename this computer"), "renameComputerButton");
  connect(rename, &QPushButton::clicked, this, &SettingsGeneralPage::renameComputer);

  receiving_ = new SettingsRow(QStringLiteral("Receiving"),
                               QStringLiteral("Keeps your computer ready to receive."));
  auto* status = new QLabel(receiving_);
  status->setObjectName(QStringLiteral("receiveStatusLabel"));
  receiving_->addTrailing(status);
  return settingsCard(this, {computerName_, receiving_});
}

QWidget* SettingsGeneralPage::makeFilesCard() {
  saveFolder_ = new SettingsRow(QStringLiteral("Save received files to"), prefs_.saveFolder());
  saveFolder_->subtitleLabel()->setObjectName(QStringLiteral("saveFolderLabel"));
  QPushButton* choose =
      rowButton(saveFolder_, QStringLiteral("Choose…"),
                QStringLiteral("Choose the folder for received files"), "chooseFolderButton");
  connect(choose, &QPushButton::clicked, this, &SettingsGeneralPage::chooseSaveFolder);

  askBeforeReceiving_ = new SettingsRow(QStringLiteral("Ask before receiving"),
                                        askBeforeReceivingSubtitle(prefs_.askBeforeReceiving()));
  bindSwitch(
      askBeforeReceiving_, "askBeforeReceivingSwitch", &Preferences::askBeforeReceiving,
      [this](bool on) { prefs_.setAskBeforeReceiving(on); },
      &Preferences::askBeforeReceivingChanged);

  auto* copyText =
      new SettingsRow(QStringLiteral("Copy received text to clipboard"),
                      QStringLiteral("Text from a phone is ready to paste with Ctrl+V."));
  bindSwitch(
      copyText, "copyReceivedTextSwitch", &Preferences::copyReceivedText,
      [this](bool on) { prefs_.setCopyReceivedText(on); }, &Preferences::copyReceivedTextChanged);

  clipHistory_ = new SettingsRow(QStringLiteral("Clip history"), QString());
  clipHistory_->subtitleLabel()->setObjectName(QStringLiteral("clipCountLabel"));
  clearClips_ = rowButton(clipHistory_, QStringLiteral("Clear"),
                          QStringLiteral("Clear clip history"), "clearClipsButton");
  connect(clearClips_, &QPushButton::clicked, this, &SettingsGeneralPage::clearClips);
  return settingsCard(this, {saveFolder_, askBeforeReceiving_, copyText, clipHistory_});
}

QWidget* SettingsGeneralPage::makeAnnouncementsCard() {
  openAtLogin_ = new SettingsRow(QStringLiteral("Open at login"),
                                 QStringLiteral("Ferrytide starts in the tray when you log in."));
  openAtLogin_->noteLabel()->setObjectName(QStringLiteral("openAtLoginNote"));
  openAtLoginSwitch_ = makeSwitch(openAtLogin_, "openAtLoginSwitch");
  connect(openAtLoginSwitch_, &QCheckBox::toggled, this, &SettingsGeneralPage::setOpenAtLogin);

  auto* notify = new SettingsRow(QStringLiteral("Notify when files arrive"),
                                 QStringLiteral("With a Show in Folder button."));
  bindSwitch(
      notify, "notifyOnReceiveSwitch", &Preferences::notifyOnReceive,
      [this](bool on) { prefs_.setNotifyOnReceive(on); }, &Preferences::notifyOnReceiveChanged);
  auto* sound = new SettingsRow(QStringLiteral("Play a sound"),
                                QStringLiteral("A soft chime when a transfer finishes."));
  bindSwitch(
      sound, "playSoundSwitch", &Preferences::playSound,
      [this](bool on) { prefs_.setPlaySound(on); }, &Preferences::playSoundChanged);
  return settingsCard(this, {openAtLogin_, notify, sound});
}

QCheckBox* SettingsGeneralPage::makeSwitch(SettingsRow* row, const char* name) {
  auto* box = new QCheckBox(row);
  box->setObjectName(QLatin1String(name));
  box->setAccessibleName(row->titleLabel()->text());
  box->setAccessibleDescription(row->subtitleLabel()->text());
  row->addTrailing(box);
  return box;
}

void SettingsGeneralPage::bindSwitch(SettingsRow* row, const char* name,
                                     bool (Preferences::*read)() const,
                                     std::function<void(bool)> write,
                                     void (Preferences::*changed)(bool)) {
  QCheckBox* box = makeSwitch(row, name);
  box->setChecked((prefs_.*read)());
  connect(box, &QCheckBox::toggled, this, std::move(write));
  connect(&prefs_, changed, box, [box](bool on) {
    QSignalBlocker quiet(box);
    box->setChecked(on);
  });
}

void SettingsGeneralPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The entry may have been changed outside the application.
  showLoginItem();
}

void SettingsGeneralPage::showComputerName() {
  computerName_->setTitle(prefs_.effectiveDeviceName());
  computerName_->titleLabel()->setAccessibleName(QStringLiteral("This computer's name: ") +
                                                 prefs_.effectiveDeviceName());
}

void SettingsGeneralPage::showReceiveStatus() {
  auto* label = receiving_->findChild<QLabel*>(QStringLiteral("receiveStatusLabel"));
  const ReceiveStatus& status = appState_.receiveStatus();
  switch (status.kind) {
    case ReceiveStatus::Kind::listening:
      label->setText(QStringLiteral("Ready, port ") + QString::number(status.port));
      receiving_->setNote(QString());
      break;
    case ReceiveStatus::Kind::stopped:
      label->setText(QStringLiteral("Stopped"));
      receiving_->setNote(QString());
      break;
    case ReceiveStatus::Kind::error:
      label->setText(QStringLiteral("Not receiving"));
      receiving_->setNote(status.message);
      break;
  }
  label->setAccessibleName(QStringLiteral("Receiving: ") + label->text());
}

void SettingsGeneralPage::showClipCount() {
  std::size_t count = clips_.clips().size();
  clipHistory_->setSubtitle(clipCountLine(count));
  clipHistory_->subtitleLabel()->setAccessibleName(clipCountLine(count));
  clearClips_->setEnabled(count > 0);
}

void SettingsGeneralPage::showLoginItem() {
  QSignalBlocker quiet(openAtLoginSwitch_);
  openAtLoginSwitch_->setChecked(platform::LoginItem::isEnabled());
}

void SettingsGeneralPage::renameComputer() {
  std::optional<QString> name = dialogs_.askName(
      this, QStringLiteral("Rename this computer"),
      QStringLiteral("Phones you pair from now on will see this name. Phones already paired keep "
                     "the name they gave this computer."),
      prefs_.effectiveDeviceName());
  if (!name) return;
  QString trimmed = name->trimmed();
  // Keeping the shown name leaves the setting alone, so that it still follows the host name.
  if (trimmed != prefs_.effectiveDeviceName()) prefs_.setDeviceName(trimmed);
}

void SettingsGeneralPage::chooseSaveFolder() {
  std::optional<QString> folder = dialogs_.chooseFolder(this, prefs_.saveFolder());
  if (!folder) return;
  prefs_.setSaveFolder(*folder);
  // The receiver takes its folder when it starts.
  if (appState_.requestStopReceiver) appState_.requestStopReceiver();
  if (appState_.requestStartReceiver) appState_.requestStartReceiver();
}

void SettingsGeneralPage::clearClips() {
  std::size_t count = clips_.clips().size();
  bool clear = dialogs_.confirm(this, QStringLiteral("Clear clip history?"),
                                QStringLiteral("All ") + QString::number(count) + clipsWord(count) +
                                    QStringLiteral(" will be removed from this computer. This "
                                                   "can't be undone."),
                                QStringLiteral("Clear"));
  if (clear) clips_.clear();
}

void SettingsGeneralPage::setOpenAtLogin(bool on) {
  try {
    platform::LoginItem::setEnabled(on);
    openAtLogin_->setNote(QString());
  } catch (const platform::LoginItemError& error) {
    openAtLogin_->setNote(
        QStringLiteral("Your desktop didn't allow this. Try again from your desktop's startup "
                       "settings.\n") +
        QString::fromStdString(error.description()));
  }
  showLoginItem();
}

}  // namespace ferrytide::menu
