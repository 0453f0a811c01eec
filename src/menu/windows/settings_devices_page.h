#pragma once

#include <QString>
#include <QWidget>

#include "core/peers/peer_record.h"

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace ferrytide::menu {

class AppState;
class Preferences;
struct AppRouter;
struct SettingsDialogs;

// The paired phones: a list of their names, the chosen phone's address, key fingerprint and
// pairing date, renaming (on this computer only) and forgetting it, and adding another phone.
class SettingsDevicesPage : public QWidget {
  Q_OBJECT

 public:
  SettingsDevicesPage(AppState& appState, Preferences& prefs, AppRouter& router,
                      const SettingsDialogs& dialogs, QWidget* parent = nullptr);

  // The first 8 bytes of the Base64 key in upper-case hex, in four groups of four
  // ("ABCD EF12 3456 7890"); an en dash for a key that does not decode to 8 bytes or more.
  static QString fingerprint(const QString& base64Key);

  // Shows the phone with this key, when it is paired.
  void selectPhone(const QString& pubkey);

 private:
  QWidget* makeEmptyState();
  QWidget* makePhoneList();
  QWidget* makeDetails();
  void reload();
  void showDetails();
  std::optional<PeerRecord> selectedPhone() const;
  void renameSelected();
  void forgetSelected();

  AppState& appState_;
  Preferences& prefs_;
  AppRouter& router_;
  const SettingsDialogs& dialogs_;
  QStackedWidget* states_ = nullptr;
  QListWidget* list_ = nullptr;
  QLabel* name_ = nullptr;
  QLabel* address_ = nullptr;
  QLabel* fingerprint_ = nullptr;
  QLabel* pairedDate_ = nullptr;
  QLabel* error_ = nullptr;
};

}  // namespace ferrytide::menu
