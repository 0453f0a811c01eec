#pragma once

#include <functional>
#include <QString>
#include <optional>

#include "menu/windows/settings_dialogs.h"

namespace plinth {
class Updater;
}

namespace ferrytide::menu {

// What the settings window asks of the tray application.
struct SettingsHooks {
  // Whether the current clipboard shortcut is held; false shows that another program has it.
  std::function<bool()> clipHotkeyRegistered = [] { return true; };
  // Whether the file manager's "Send to phone" actions are installed; nothing when unknown.
  std::function<std::optional<bool>()> fileManagerIntegration = [] {
    return std::optional<bool>();
  };
  // Installs those actions: nothing, or why they could not be. Empty when this build cannot,
  // which hides the button.
  std::function<std::optional<QString>()> installFileManagerIntegration;
  SettingsDialogs dialogs = SettingsDialogs::standard();
  // The application's updater; null in a build or test without one.
  ::plinth::Updater* updater = nullptr;
};

}  // namespace ferrytide::menu
