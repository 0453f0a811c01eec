#pragma once

#include <map>
#include <string>

#include "menu/models/app_state.h"
#include "menu/models/preferences.h"

namespace ferrytide::menu {

// The settings as a problem report shows them: switches and counts only. No phone's key,
// name or address, and no folder path (it names the user) ever goes in.
std::map<std::string, std::string> settingsSummary(const Preferences& prefs, const AppState& state);

}  // namespace ferrytide::menu
