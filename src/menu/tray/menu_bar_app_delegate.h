#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <asio/ip/address.hpp>
#include <cstdint>
#include <memory>
#include <optional>

#include "menu/models/hotkey_combo.h"
#include "menu/tray/app_router.h"
#include "menu/windows/settings_navigation.h"
#include "plinth_updates/updater_config.h"

class QSystemTrayIcon;

namespace ferrytide::menu {

struct AppServices;
class PopoverWindow;
class StatusMenu;

struct MenuBarAppDelegateOptions {
  std::uint16_t port = 47819;
  // Off in tests that must not touch the keyboard of the display they run on.
  bool registerHotkeys = true;
  // Absent: the receiver and the pairing listener take every interface.
  std::optional<asio::ip::address> listenAddress;
  // Where updates come from; absent: the build's feed and key.
  std::optional<::plinth::UpdaterConfig> updates;
};

// The tray application: claims the single instance (the newest start wins), builds the tray
// icon with its menu, the popover and the windows, and starts every long-lived service in a
// fixed order. Closing its windows never quits it; only "Quit Ferrytide" (or a newer start)
// does. Main thread only.
class MenuBarAppDelegate : public QObject {
  Q_OBJECT

 public:
  using Options = MenuBarAppDelegateOptions;

  // The popover's hot key: Ctrl+Alt+A.
  static constexpr std::uint32_t popoverKeyCode = 0;
  static constexpr std::uint32_t popoverModifiers = HotkeyCombo::control | HotkeyCombo::option;

  explicit MenuBarAppDelegate(Options options = {}, QObject* parent = nullptr);
  ~MenuBarAppDelegate() override;

  // The start-up sequence. False when the session bus cannot be reached; the reason went to
  // stderr.
  bool applicationDidFinishLaunching();

  // Left click on the tray icon and the popover's hot key.
  void togglePopover();
  void showPopover();
  void showSettings(std::optional<SettingsSection> section = std::nullopt);
  void showWelcome(bool skipIntro);
  void showReport();
  // "Check for Updates…": the Updates page, checking.
  void checkForUpdates();
  void quit();

  AppServices& services() { return *services_; }
  AppRouter& router() { return router_; }
  SettingsNavigation& settingsNavigation() { return settingsNav_; }
  PopoverWindow* popover() const;
  QSystemTrayIcon* statusItem() const;
  StatusMenu* statusMenu() const;
  // The open hosted windows' content, null while closed (or never opened).
  QWidget* settingsContent() const;
  QWidget* welcomeContent() const;
  QWidget* reportContent() const;
  bool clipHotkeyRegistered() const { return clipHotkeyID_.has_value(); }
  // Adds "Send to phone" to the file managers found: nothing, or why it could not.
  std::optional<QString> installFileManagerActions();

 Q_SIGNALS:
  // A newer start took over, or the user quit: the event loop should end.
  void quitRequested();

 private:
  struct Parts;

  void claimSingleInstance();
  void setUpNotifier();
  void startReports();
  void startUpdater();
  void installRouter();
  void createStatusItem();
  void createPopover();
  void startOutboxWatcher();
  void registerHotkeys();
  void registerClipHotkey(const HotkeyCombo& combo);
  void watchPreferences();
  void closePopover();
  QRect statusItemGeometry() const;

  Options options_;
  std::unique_ptr<AppServices> services_;
  std::unique_ptr<Parts> parts_;
  AppRouter router_;
  SettingsNavigation settingsNav_;
  std::optional<std::uint32_t> clipHotkeyID_;
};

}  // namespace ferrytide::menu
