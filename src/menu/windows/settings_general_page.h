#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QPushButton;

namespace ferrytide::menu {

class AppState;
class ClipHistory;
class Preferences;
class SettingsRow;
struct SettingsDialogs;

// This computer's name, the receiver's state, where files go, how arrivals are announced, the
// clip history and starting at login.
class SettingsGeneralPage : public QWidget {
  Q_OBJECT

 public:
  SettingsGeneralPage(AppState& appState, Preferences& prefs, ClipHistory& clips,
                      const SettingsDialogs& dialogs, QWidget* parent = nullptr);

  static QString askBeforeReceivingSubtitle(bool on);
  // "3 clips saved on this computer."
  static QString clipCountLine(std::size_t count);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* makeIdentityCard();
  QWidget* makeFilesCard();
  QWidget* makeAnnouncementsCard();
  QCheckBox* makeSwitch(SettingsRow* row, const char* name);
  void bindSwitch(SettingsRow* row, const char* name, bool (Preferences::*read)() const,
                  std::function<void(bool)> write, void (Preferences::*changed)(bool));
  void showComputerName();
  void showReceiveStatus();
  void showClipCount();
  void showLoginItem();
  void renameComputer();
  void chooseSaveFolder();
  void clearClips();
  void setOpenAtLogin(bool on);

  AppState& appState_;
  Preferences& prefs_;
  ClipHistory& clips_;
  const SettingsDialogs& dialogs_;
  SettingsRow* computerName_ = nullptr;
  SettingsRow* receiving_ = nullptr;
  SettingsRow* saveFolder_ = nullptr;
  SettingsRow* askBeforeReceiving_ = nullptr;
  SettingsRow* clipHistory_ = nullptr;
  SettingsRow* openAtLogin_ = nullptr;
  QCheckBox* openAtLoginSwitch_ = nullptr;
  QPushButton* clearClips_ = nullptr;
};

}  // namespace ferrytide::menu
