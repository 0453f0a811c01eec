#pragma once

#include <QWidget>

#include "menu/windows/settings_hooks.h"

class QKeyEvent;
class QLabel;
class QPushButton;

namespace ferrytide::menu {

class KeyCaps;
class Preferences;
class SettingsRow;

// The clipboard shortcut, shown as key caps and recorded from the next key press, and whether
// the file manager offers "Send to phone".
class SettingsShortcutsPage : public QWidget {
  Q_OBJECT

 public:
  SettingsShortcutsPage(Preferences& prefs, const SettingsHooks& hooks, QWidget* parent = nullptr);
  ~SettingsShortcutsPage() override;

  bool isRecording() const { return recording_; }
  void startRecording();
  void cancelRecording();
  // Asks the hooks again whether the shortcut is held and the file manager has the actions.
  void refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* makeShortcutCard();
  QWidget* makeFileManagerCard();
  void takeKeyPress(const QKeyEvent& press);
  void stopRecording();
  void showShortcut();
  void showFileManagerState();

  Preferences& prefs_;
  const SettingsHooks& hooks_;
  bool recording_ = false;
  SettingsRow* shortcut_ = nullptr;
  KeyCaps* caps_ = nullptr;
  QLabel* prompt_ = nullptr;
  QPushButton* record_ = nullptr;
  SettingsRow* fileManager_ = nullptr;
  QLabel* fileManagerState_ = nullptr;
  QPushButton* install_ = nullptr;
};

}  // namespace ferrytide::menu
