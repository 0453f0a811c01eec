#include "menu/windows/settings_devices_page.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/support/base64.h"
#include "core/support/bytes.h"
#include "menu/design_system/theme.h"
#include "menu/models/app_state.h"
#include "menu/tray/app_router.h"
#include "menu/windows/settings_dialogs.h"
#include "menu/windows/settings_row.h"

namespace ferrytide::menu {
namespace {

constexpr int kPubkeyRole = Qt::UserRole;

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
  auto* made = new QPushButton(text, parent);
  made->setObjectName(QLatin1String(name));
  made->setAccessibleName(text);
  return made;
}

QLabel* value(const char* name, const QString& accessibleName, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setAccessibleName(accessibleName);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QString pairedDate(std::int64_t epochMs) {
  QDateTime when = QDateTime::fromMSecsSinceEpoch(epochMs);
  return QLocale().toString(when.date(), QLocale::LongFormat);
}

}  // namespace

SettingsDevicesPage::SettingsDevicesPage(AppState& appState, Preferences& prefs, AppRouter& router,
                                         const SettingsDialogs& dialogs, QWidget* parent)
    : QWidget(parent), appState_(appState), prefs_(prefs), router_(router), dialogs_(dialogs) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  states_ = new QStackedWidget(this);
  states_->addWidget(makeEmptyState());
  auto* content = new QWidget(states_);
  auto* row = new QHBoxLayout(content);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(16);
  row->addWidget(makePhoneList());
  row->addWidget(makeDetails(), 1);
  states_->addWidget(content);
  column->addWidget(states_, 1);
  error_ = theme::caption(QString(), this);
  error_->setObjectName(QStringLiteral("devicesError"));
  column->addWidget(error_);

  connect(&appState_, &AppState::peersChanged, this, &SettingsDevicesPage::reload);
  connect(&prefs_, &Preferences::displayNamesChanged, this, &SettingsDevicesPage::reload);
  connect(&appState_, &AppState::lastErrorChanged, this, &SettingsDevicesPage::reload);
  reload();
}

QWidget* SettingsDevicesPage::makeEmptyState() {
  QFrame* card = theme::card(this);
  card->setObjectName(QStringLiteral("noPhones"));
  auto* column = new QVBoxLayout(card);
  column->setContentsMargins(24, 28, 24, 28);
  column->setSpacing(8);
  auto* logo = new QLabel(card);
  logo->setPixmap(theme::logo().pixmap(56, 56));
  logo->setAlignment(Qt::AlignCenter);
  column->addWidget(logo);
  QLabel* heading = theme::headline(QStringLiteral("No phone paired yet"), card);
  heading->setAlignment(Qt::AlignCenter);
  column->addWidget(heading);
  QLabel* hint = theme::caption(
      QStringLiteral("Pair your phone once to send files and text both ways."), card);
  hint->setAlignment(Qt::AlignCenter);
  column->addWidget(hint);
  QPushButton* add = theme::primaryButton(QStringLiteral("Add a phone"), card);
  add->setObjectName(QStringLiteral("addFirstPhoneButton"));
  add->setAccessibleName(add->text());
  connect(add, &QPushButton::clicked, this, [this] { router_.showWelcome(true); });
  column->addWidget(add, 0, Qt::AlignHCenter);
  auto* holder = new QWidget(this);
  auto* holderColumn = new QVBoxLayout(holder);
  holderColumn->setContentsMargins(0, 0, 0, 0);
  holderColumn->addWidget(card);
  holderColumn->addStretch(1);
  return holder;
}

QWidget* SettingsDevicesPage::makePhoneList() {
  auto* holder = new QWidget(this);
  holder->setFixedWidth(210);
  auto* column = new QVBoxLayout(holder);
  column->setContentsMargins(0, 0, 0, 0);
  list_ = new QListWidget(holder);
  list_->setObjectName(QStringLiteral("phoneList"));
  list_->setAccessibleName(QStringLiteral("Paired phones"));
  column->addWidget(list_, 1);
  QPushButton* add = button(QStringLiteral("Add a phone"), "addPhoneButton", holder);
  connect(add, &QPushButton::clicked, this, [this] { router_.showWelcome(true); });
  column->addWidget(add);
  connect(list_, &QListWidget::currentRowChanged, this, &SettingsDevicesPage::showDetails);
  return holder;
}

QWidget* SettingsDevicesPage::makeDetails() {
  auto* holder = new QWidget(this);
  auto* column = new QVBoxLayout(holder);
  column->setContentsMargins(0, 0, 0, 0);
  QFrame* card = theme::card(holder);
  card->setObjectName(QStringLiteral("phoneDetails"));
  auto* inside = new QVBoxLayout(card);
  inside->setContentsMargins(18, 16, 18, 16);
  inside->setSpacing(10);
  name_ = theme::title(QString(), card);
  name_->setObjectName(QStringLiteral("phoneName"));
  inside->addWidget(name_);

  auto* fields = new QFormLayout;
  fields->setLabelAlignment(Qt::AlignLeft);
  fields->setHorizontalSpacing(16);
  address_ = value("phoneAddress", QStringLiteral("Address"), card);
  fingerprint_ = value("phoneFingerprint", QStringLiteral("Key fingerprint"), card);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fingerprint_->setFont(mono);
  pairedDate_ = value("phonePairedDate", QStringLiteral("Paired"), card);
  fields->addRow(theme::caption(QStringLiteral("Address"), card), address_);
  fields->addRow(theme::caption(QStringLiteral("Key fingerprint"), card), fingerprint_);
  fields->addRow(theme::caption(QStringLiteral("Paired"), card), pairedDate_);
  inside->addLayout(fields);
  QLabel* secure = theme::caption(
      QStringLiteral("Encrypted end to end. The key never leaves your devices."), card);
  secure->setObjectName(QStringLiteral("phoneSecurity"));
  inside->addWidget(secure);

  auto* actions = new QHBoxLayout;
  QPushButton* rename = button(QStringLiteral("Rename…"), "renamePhoneButton", card);
  rename->setAccessibleName(QStringLiteral("Rename phone"));
  QPushButton* forget = button(QStringLiteral("Remove…"), "forgetPhoneButton", card);
  forget->setAccessibleName(QStringLiteral("Remove phone"));
  connect(rename, &QPushButton::clicked, this, &SettingsDevicesPage::renameSelected);
  connect(forget, &QPushButton::clicked, this, &SettingsDevicesPage::forgetSelected);
  actions->addWidget(rename);
  actions->addWidget(forget);
  actions->addStretch(1);
  inside->addLayout(actions);
  column->addWidget(card);
  column->addStretch(1);
  return holder;
}

QString SettingsDevicesPage::fingerprint(const QString& base64Key) {
  std::optional<Bytes> key = base64::decode(base64Key.toStdString());
  if (!key || key->size() < 8) return QString(QChar(0x2013));
  QString hex = QString::fromStdString(toHex(ByteView(*key).first(8))).toUpper();
  QStringList groups;
  for (int at = 0; at < hex.size(); at += 4) groups << hex.mid(at, 4);
  return groups.join(u' ');
}

void SettingsDevicesPage::reload() {
  QString keep = list_->currentItem() != nullptr
                     ? list_->currentItem()->data(kPubkeyRole).toString()
                     : QString();
  {
    QSignalBlocker quiet(list_);
    list_->clear();
    for (const PeerRecord& peer : appState_.peers()) {
      auto* item = new QListWidgetItem(appState_.displayName(peer), list_);
      item->setData(kPubkeyRole, QString::fromStdString(peer.peer_pubkey));
      item->setIcon(QIcon::fromTheme(QStringLiteral("phone")));
      item->setSizeHint(QSize(0, 34));
    }
  }
  states_->setCurrentIndex(appState_.peers().empty() ? 0 : 1);
  const std::optional<QString>& lastError = appState_.lastError();
  error_->setText(lastError.value_or(QString()));
  error_->setAccessibleName(error_->text());
  QPalette palette = error_->palette();
  palette.setColor(QPalette::PlaceholderText, errorColour(this));
  error_->setPalette(palette);
  error_->setVisible(lastError.has_value());
  list_->setCurrentRow(0);
  if (!keep.isEmpty()) selectPhone(keep);
  showDetails();
}

void SettingsDevicesPage::selectPhone(const QString& pubkey) {
  for (int row = 0; row < list_->count(); ++row) {
    if (list_->item(row)->data(kPubkeyRole).toString() == pubkey) list_->setCurrentRow(row);
  }
}

std::optional<PeerRecord> SettingsDevicesPage::selectedPhone() const {
  if (list_->currentItem() == nullptr) return std::nullopt;
  std::string key = list_->currentItem()->data(kPubkeyRole).toString().toStdString();
  for (const PeerRecord& peer : appState_.peers()) {
    if (peer.peer_pubkey == key) return peer;
  }
  return std::nullopt;
}

void SettingsDevicesPage::showDetails() {
  std::optional<PeerRecord> peer = selectedPhone();
  if (!peer) return;
  name_->setText(appState_.displayName(*peer));
  name_->setAccessibleName(name_->text());
  address_->setText(peer->peer_ip.empty() ? QString(QChar(0x2013))
                                          : QString::fromStdString(peer->peer_ip));
  fingerprint_->setText(fingerprint(QString::fromStdString(peer->peer_pubkey)));
  pairedDate_->setText(pairedDate(peer->paired_at_epoch_ms));
}

void SettingsDevicesPage::renameSelected() {
  std::optional<PeerRecord> peer = selectedPhone();
  if (!peer) return;
  QString ownName = QString::fromStdString(peer->peer_hostname);
  std::optional<QString> name = dialogs_.askName(
      this, QStringLiteral("Rename phone"),
      QStringLiteral("Only on this computer. The phone keeps its own name, ") + ownName +
          QStringLiteral("."),
      appState_.displayName(*peer));
  if (name) prefs_.setDisplayName(*name, QString::fromStdString(peer->peer_pubkey));
}

void SettingsDevicesPage::forgetSelected() {
  std::optional<PeerRecord> peer = selectedPhone();
  if (!peer) return;
  bool remove = dialogs_.confirm(
      this, QStringLiteral("Remove ") + appState_.displayName(*peer) + QStringLiteral("?"),
      QStringLiteral("It's removed from this computer, and this computer from the phone. "
                     "Pair again to use it."),
      QStringLiteral("Remove"));
  if (remove) appState_.forget(*peer, true);
}

}  // namespace ferrytide::menu
