#pragma once

#include <functional>
#include <optional>

#include "menu/windows/settings_navigation.h"

namespace ferrytide::menu {

// How views ask for windows without knowing who owns them. The tray application installs the
// actions at start-up; until then, and once it is gone, each does nothing.
struct AppRouter {
  // Opens the settings window, on `section` when one is given.
  std::function<void(std::optional<SettingsSection> section)> showSettings = [](auto) {};
  // Opens the welcome window; `skipIntro` starts it at the pairing step.
  std::function<void(bool skipIntro)> showWelcome = [](bool) {};
  // Closes the popover when it is shown.
  std::function<void()> closePopover = [] {};
  // Opens the problem report window.
  std::function<void()> showReport = [] {};
};

}  // namespace ferrytide::menu
