#include "menu/models/preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/peers/device_info.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "menu/models/format.h"
#include "menu/models/settings_value.h"
#include "menu/models/stored_value_screen.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("preferences");

QString key(const char* name) { return QString::fromLatin1(name); }

QString describeStatus(QSettings::Status status) {
  return status == QSettings::AccessError ? QStringLiteral("it cannot be read")
                                          : QStringLiteral("it is not a settings file");
}

// Moves a damaged file out of the way, so that the next write starts afresh and the old
// content can still be looked at.
QString setAside(const QString& file) {
  QString aside = file + QStringLiteral(".damaged");
  QFile::remove(aside);
  if (!QFile::rename(file, aside)) {
    kLog.error("could not set aside the damaged settings file " + file.toStdString());
  }
  return aside;
}

}  // namespace

QString Preferences::defaultSettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Ferrytide/Ferrytide.conf");
}

QString Preferences::defaultSaveFolder() {
  static const QString folder =
      QString::fromStdString((paths::downloadsDirectory() / "Ferrytide").string());
  return folder;
}

Preferences::Preferences(const QString& settingsFile, QObject* parent) : QObject(parent) {
  openSettings(settingsFile);
  readSettings();
}

Preferences::~Preferences() = default;

void Preferences::openSettings(const QString& settingsFile) {
  std::optional<QString> problem = StoredValueScreen::problem(settingsFile);
  if (!problem) {
    defaults_ = std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    QSettings::Status status = defaults_->status();
    if (status == QSettings::NoError) return;
    defaults_.reset();
    problem = describeStatus(status);
  }
  QString aside = setAside(settingsFile);
  damagedNotice_ = QStringLiteral("settings unreadable: ") + *problem +
                   QStringLiteral("; kept as ") + aside + QStringLiteral(", defaults in use");
  kLog.error(damagedNotice_->toStdString());
  defaults_ = std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
}

void Preferences::readSettings() {
  auto boolean = [&](const char* name, bool fallback) {
    return SettingsValue::toBool(defaults_->value(key(name))).value_or(fallback);
  };
  auto text = [&](const char* name, const QString& fallback) {
    return SettingsValue::toText(defaults_->value(key(name))).value_or(fallback);
  };

  copyReceivedText_ = boolean(Keys::copyReceivedText, true);
  notifyOnReceive_ = boolean(Keys::notifyOnReceive, true);
  playSound_ = boolean(Keys::playSound, true);

  saveFolder_ = text(Keys::saveFolderPath, {});
  if (saveFolder_.isEmpty()) saveFolder_ = defaultSaveFolder();

  QVariant names = defaults_->value(key(Keys::displayNames));
  if (names.typeId() == QMetaType::QVariantMap) {
    QVariantMap map = names.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
      if (it.value().typeId() != QMetaType::QString) {
        displayNames_.clear();
        break;
      }
      displayNames_.insert(it.key(), it.value().toString());
    }
  }

  popoverTab_ = text(Keys::popoverTab, QStringLiteral("files"));

  // A stored combination outside the key code and mask ranges is not one we wrote: the
  // default stands in for it rather than a bare key without modifiers.
  if (defaults_->contains(key(Keys::clipHotkeyKeyCode))) {
    std::optional<std::uint32_t> keyCode =
        SettingsValue::toUInt32(defaults_->value(key(Keys::clipHotkeyKeyCode)));
    std::optional<std::uint32_t> modifiers =
        defaults_->contains(key(Keys::clipHotkeyModifiers))
            ? SettingsValue::toUInt32(defaults_->value(key(Keys::clipHotkeyModifiers)))
            : std::optional<std::uint32_t>(0);
    if (keyCode && modifiers) clipHotkey_ = HotkeyCombo{*keyCode, *modifiers};
  }

  welcomeCompleted_ = boolean(Keys::welcomeCompleted, false);
  askBeforeReceiving_ = boolean(Keys::askBeforeReceiving, false);
  deviceName_ = text(Keys::deviceName, {});
}

void Preferences::storeValue(const char* name, const QVariant& value) {
  defaults_->setValue(key(name), value);
  defaults_->sync();
  if (defaults_->status() != QSettings::NoError) {
    kLog.error(std::string("settings save failed for ") + name);
  }
}

template <typename Value, typename Signal>
void Preferences::assign(const char* name, Value& field, const Value& value, Signal changed) {
  storeValue(name, value);
  if (field == value) return;
  field = value;
  Q_EMIT(this->*changed)(field);
}

void Preferences::setCopyReceivedText(bool value) {
  assign(Keys::copyReceivedText, copyReceivedText_, value, &Preferences::copyReceivedTextChanged);
}

void Preferences::setNotifyOnReceive(bool value) {
  assign(Keys::notifyOnReceive, notifyOnReceive_, value, &Preferences::notifyOnReceiveChanged);
}

void Preferences::setPlaySound(bool value) {
  assign(Keys::playSound, playSound_, value, &Preferences::playSoundChanged);
}

void Preferences::setSaveFolder(const QString& path) {
  assign(Keys::saveFolderPath, saveFolder_, path, &Preferences::saveFolderChanged);
}

void Preferences::setPopoverTab(const QString& tab) {
  assign(Keys::popoverTab, popoverTab_, tab, &Preferences::popoverTabChanged);
}

void Preferences::setClipHotkey(const HotkeyCombo& combo) {
  storeValue(Keys::clipHotkeyKeyCode, combo.keyCode);
  storeValue(Keys::clipHotkeyModifiers, combo.modifiers);
  if (clipHotkey_ == combo) return;
  clipHotkey_ = combo;
  Q_EMIT clipHotkeyChanged(combo);
}

void Preferences::setWelcomeCompleted(bool value) {
  assign(Keys::welcomeCompleted, welcomeCompleted_, value, &Preferences::welcomeCompletedChanged);
}

void Preferences::setAskBeforeReceiving(bool value) {
  assign(Keys::askBeforeReceiving, askBeforeReceiving_, value,
         &Preferences::askBeforeReceivingChanged);
}

void Preferences::setDeviceName(const QString& name) {
  assign(Keys::deviceName, deviceName_, name, &Preferences::deviceNameChanged);
}

void Preferences::setDisplayName(const QString& name, const QString& pubkey) {
  QString trimmed = name.trimmed();
  DisplayNames names = displayNames_;
  if (trimmed.isEmpty()) {
    names.remove(pubkey);
  } else {
    names.insert(pubkey, Format::prefix(trimmed, maxDisplayNameLength));
  }
  bool changed = names != displayNames_;
  displayNames_ = std::move(names);
  writeDisplayNames();
  if (changed) Q_EMIT displayNamesChanged(displayNames_);
}

void Preferences::removeDisplayName(const QString& pubkey) {
  bool changed = displayNames_.remove(pubkey) > 0;
  writeDisplayNames();
  if (changed) Q_EMIT displayNamesChanged(displayNames_);
}

void Preferences::writeDisplayNames() {
  QVariantMap map;
  for (auto it = displayNames_.cbegin(); it != displayNames_.cend(); ++it) {
    map.insert(it.key(), it.value());
  }
  storeValue(Keys::displayNames, map);
}

QString Preferences::effectiveDeviceName() const {
  if (!deviceName_.isEmpty()) return deviceName_;
  return QString::fromStdString(DeviceInfo::hostnameString());
}

std::map<QString, QByteArray> Preferences::pendingUnpairs() const {
  return pendingUnpairs(*defaults_);
}

std::map<QString, QByteArray> Preferences::pendingUnpairs(const QSettings& settings) {
  QVariant stored = settings.value(key(Keys::pendingUnpairs));
  if (stored.typeId() != QMetaType::QVariantMap) return {};
  std::map<QString, QByteArray> notices;
  QVariantMap map = stored.toMap();
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    if (it.value().typeId() != QMetaType::QByteArray) return {};
    notices.emplace(it.key(), it.value().toByteArray());
  }
  return notices;
}

}  // namespace ferrytide::menu
