#pragma once

#include <QWidget>

#include "menu/windows/settings_hooks.h"
#include "menu/windows/settings_navigation.h"

namespace ferrytide::plinth {
class SettingsShell;
}  // namespace ferrytide::plinth

namespace ferrytide::menu {

class AppState;
class ClipHistory;
class Preferences;
struct AppRouter;

// The settings window's content: the settings shell with the Phones, General, Shortcuts,
// Updates and About pages. The page shown follows `navigation` and moves it when the user picks
// another page. The tray application wraps it in a hosted window.
class SettingsView : public QWidget {
  Q_OBJECT

 public:
  SettingsView(AppState& appState, Preferences& prefs, ClipHistory& clips,
               SettingsNavigation& navigation, AppRouter& router, SettingsHooks hooks,
               QWidget* parent = nullptr);

  // Shows a page (for other windows and for screenshots).
  void select(SettingsSection section);
  SettingsSection section() const { return navigation_.section(); }
  plinth::SettingsShell* shell() const { return shell_; }

 private:
  QWidget* makePage(SettingsSection section);

  AppState& appState_;
  Preferences& prefs_;
  ClipHistory& clips_;
  SettingsNavigation& navigation_;
  AppRouter& router_;
  SettingsHooks hooks_;
  plinth::SettingsShell* shell_ = nullptr;
};

}  // namespace ferrytide::menu
