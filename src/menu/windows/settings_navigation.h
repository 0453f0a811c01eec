#pragma once

#include <QObject>
#include <QString>
#include <optional>

namespace ferrytide::menu {

// The pages of the settings window, in sidebar order.
enum class SettingsSection { devices, general, shortcuts, updates, about };

// "devices", "general", …: the page's id in the settings shell and in stored settings.
QString settingsSectionId(SettingsSection section);
std::optional<SettingsSection> settingsSectionFromId(const QString& id);

// The page the settings window shows, so that other parts of the application can open it on a
// given page. Main thread only.
class SettingsNavigation : public QObject {
  Q_OBJECT

 public:
  explicit SettingsNavigation(QObject* parent = nullptr) : QObject(parent) {}

  SettingsSection section() const { return section_; }
  void setSection(SettingsSection section);

 Q_SIGNALS:
  void sectionChanged(ferrytide::menu::SettingsSection section);

 private:
  SettingsSection section_ = SettingsSection::devices;
};

}  // namespace ferrytide::menu
