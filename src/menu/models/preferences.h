#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSettings>
#include <QString>
#include <map>
#include <memory>
#include <optional>

#include "menu/models/hotkey_combo.h"

namespace ferrytide::menu {

// Every user setting, stored in one settings file under the keys below. Each setter writes
// its key at once (so a setting survives a crash) and then notifies, only when the value
// changed; a handler therefore reads the new value from the property and from the file alike.
//
// Values of the wrong type in the file count as absent. A file that cannot be read or parsed
// is moved aside with a ".damaged" suffix and the defaults are used; `damagedNotice` says so.
class Preferences : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool copyReceivedText READ copyReceivedText WRITE setCopyReceivedText NOTIFY
                 copyReceivedTextChanged)
  Q_PROPERTY(bool notifyOnReceive READ notifyOnReceive WRITE setNotifyOnReceive NOTIFY
                 notifyOnReceiveChanged)
  Q_PROPERTY(bool playSound READ playSound WRITE setPlaySound NOTIFY playSoundChanged)
  Q_PROPERTY(QString saveFolder READ saveFolder WRITE setSaveFolder NOTIFY saveFolderChanged)
  Q_PROPERTY(DisplayNames displayNames READ displayNames NOTIFY displayNamesChanged)
  Q_PROPERTY(QString popoverTab READ popoverTab WRITE setPopoverTab NOTIFY popoverTabChanged)
  Q_PROPERTY(ferrytide::menu::HotkeyCombo clipHotkey READ clipHotkey WRITE setClipHotkey NOTIFY
                 clipHotkeyChanged)
  Q_PROPERTY(bool welcomeCompleted READ welcomeCompleted WRITE setWelcomeCompleted NOTIFY
                 welcomeCompletedChanged)
  Q_PROPERTY(bool askBeforeReceiving READ askBeforeReceiving WRITE setAskBeforeReceiving NOTIFY
                 askBeforeReceivingChanged)
  Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)

 public:
  // Custom phone names by the phone's Base64 public key.
  using DisplayNames = QMap<QString, QString>;

  struct Keys {
    static constexpr const char* copyReceivedText = "ferrytide.copyReceivedText";
    static constexpr const char* notifyOnReceive = "ferrytide.notifyOnReceive";
    static constexpr const char* playSound = "ferrytide.playSound";
    static constexpr const char* popoverTab = "ferrytide.popoverTab";
    static constexpr const char* saveFolderPath = "ferrytide.saveFolderPath";
    static constexpr const char* displayNames = "ferrytide.displayNames";
    static constexpr const char* clipHotkeyKeyCode = "ferrytide.clipHotkey.keyCode";
    static constexpr const char* clipHotkeyModifiers = "ferrytide.clipHotkey.modifiers";
    static constexpr const char* welcomeCompleted = "ferrytide.welcomeCompleted";
    static constexpr const char* askBeforeReceiving = "ferrytide.askBeforeReceiving";
    static constexpr const char* deviceName = "ferrytide.deviceName";
    static constexpr const char* lastSelectedPeerPubkey = "ferrytide.lastSelectedPeerPubkey";
    static constexpr const char* pendingUnpairs = "ferrytide.pendingUnpairs";
    static constexpr const char* pendingNames = "ferrytide.pendingNames";
    static constexpr const char* lastPickDirectory = "lastPickDirectory";
  };

  static constexpr int maxDisplayNameLength = 40;

  // $XDG_CONFIG_HOME/Ferrytide/Ferrytide.conf
  static QString defaultSettingsFile();
  // <Downloads>/Ferrytide
  static QString defaultSaveFolder();

  explicit Preferences(const QString& settingsFile = defaultSettingsFile(),
                       QObject* parent = nullptr);
  ~Preferences() override;

  // The store under the settings, for the keys that other components own.
  QSettings& defaults() { return *defaults_; }
  // Writes one key at once; failures are logged.
  void storeValue(const char* key, const QVariant& value);
  // Set when the file was damaged at start and set aside.
  const std::optional<QString>& damagedNotice() const { return damagedNotice_; }

  bool copyReceivedText() const { return copyReceivedText_; }
  bool notifyOnReceive() const { return notifyOnReceive_; }
  bool playSound() const { return playSound_; }
  // A folder path.
  const QString& saveFolder() const { return saveFolder_; }
  const DisplayNames& displayNames() const { return displayNames_; }
  const QString& popoverTab() const { return popoverTab_; }
  const HotkeyCombo& clipHotkey() const { return clipHotkey_; }
  bool welcomeCompleted() const { return welcomeCompleted_; }
  bool askBeforeReceiving() const { return askBeforeReceiving_; }
  const QString& deviceName() const { return deviceName_; }

  void setCopyReceivedText(bool value);
  void setNotifyOnReceive(bool value);
  void setPlaySound(bool value);
  void setSaveFolder(const QString& path);
  void setPopoverTab(const QString& tab);
  void setClipHotkey(const HotkeyCombo& combo);
  void setWelcomeCompleted(bool value);
  void setAskBeforeReceiving(bool value);
  void setDeviceName(const QString& name);

  // Trimmed and cut to 40 characters; a name that is empty after trimming removes the entry.
  void setDisplayName(const QString& name, const QString& pubkey);
  void removeDisplayName(const QString& pubkey);

  // deviceName, else this computer's host name.
  QString effectiveDeviceName() const;

  // Unpair notices not yet delivered: the phone's key to its stored record. Empty unless
  // every stored value is bytes.
  std::map<QString, QByteArray> pendingUnpairs() const;
  // The same from any settings object: another thread reads through one of its own.
  static std::map<QString, QByteArray> pendingUnpairs(const QSettings& settings);

 Q_SIGNALS:
  void copyReceivedTextChanged(bool value);
  void notifyOnReceiveChanged(bool value);
  void playSoundChanged(bool value);
  void saveFolderChanged(const QString& path);
  void displayNamesChanged(const ferrytide::menu::Preferences::DisplayNames& names);
  void popoverTabChanged(const QString& tab);
  void clipHotkeyChanged(const ferrytide::menu::HotkeyCombo& combo);
  void welcomeCompletedChanged(bool value);
  void askBeforeReceivingChanged(bool value);
  void deviceNameChanged(const QString& name);

 private:
  void openSettings(const QString& settingsFile);
  void readSettings();
  // Writes the key on every assignment; notifies only when the value changed.
  template <typename Value, typename Signal>
  void assign(const char* key, Value& field, const Value& value, Signal changed);
  void writeDisplayNames();

  std::unique_ptr<QSettings> defaults_;
  std::optional<QString> damagedNotice_;

  bool copyReceivedText_ = true;
  bool notifyOnReceive_ = true;
  bool playSound_ = true;
  QString saveFolder_;
  DisplayNames displayNames_;
  QString popoverTab_;
  HotkeyCombo clipHotkey_;
  bool welcomeCompleted_ = false;
  bool askBeforeReceiving_ = false;
  QString deviceName_;
};

}  // namespace ferrytide::menu
