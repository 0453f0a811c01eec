#include "menu/windows/settings_navigation.h"

#include <array>
#include <utility>

namespace ferrytide::menu {
namespace {

constexpr std::array<std::pair<SettingsSection, const char*>, 5> sectionIds{{
    {SettingsSection::devices, "devices"},
    {SettingsSection::general, "general"},
    {SettingsSection::shortcuts, "shortcuts"},
    {SettingsSection::updates, "updates"},
    {SettingsSection::about, "about"},
}};

}  // namespace

QString settingsSectionId(SettingsSection section) {
  for (const auto& [value, id] : sectionIds) {
    if (value == section) return QString::fromLatin1(id);
  }
  return {};
}

std::optional<SettingsSection> settingsSectionFromId(const QString& id) {
  for (const auto& [value, name] : sectionIds) {
    if (id == QLatin1String(name)) return value;
  }
  return std::nullopt;
}

void SettingsNavigation::setSection(SettingsSection section) {
  if (section == section_) return;
  section_ = section;
  Q_EMIT sectionChanged(section);
}

}  // namespace ferrytide::menu
