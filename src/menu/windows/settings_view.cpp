#include "menu/windows/settings_view.h"

#include <QVBoxLayout>

#include "menu/windows/settings_about_page.h"
#include "menu/windows/settings_devices_page.h"
#include "menu/windows/settings_general_page.h"
#include "menu/windows/settings_row.h"
#include "menu/windows/settings_shortcuts_page.h"
#include "menu/windows/settings_updates_page.h"
#include "plinth/settings_shell.h"
#include "plinth_reports/report_config.h"

namespace ferrytide::menu {
namespace {

std::vector<plinth::SettingsPage> pages(const ::plinth::Updater* updater) {
  return {
      {settingsSectionId(SettingsSection::devices), QStringLiteral("Phones"),
       QStringLiteral("Phones that can send to this computer, and receive from it."),
       QStringLiteral("phone")},
      {settingsSectionId(SettingsSection::general), QStringLiteral("General"),
       QStringLiteral("Where files go and how Ferrytide lets you know."),
       QStringLiteral("preferences-system")},
      {settingsSectionId(SettingsSection::shortcuts), QStringLiteral("Shortcuts"),
       QStringLiteral("Send without opening Ferrytide."),
       QStringLiteral("preferences-desktop-keyboard-shortcuts")},
      {settingsSectionId(SettingsSection::updates), QStringLiteral("Updates"),
       SettingsUpdatesPage::subtitle(updater), QStringLiteral("system-software-update")},
      {settingsSectionId(SettingsSection::about), QStringLiteral("About"),
       QStringLiteral("Small apps that mind their own business."), QStringLiteral("help-about")},
  };
}

}  // namespace

SettingsView::SettingsView(AppState& appState, Preferences& prefs, ClipHistory& clips,
                           SettingsNavigation& navigation, AppRouter& router, SettingsHooks hooks,
                           QWidget* parent)
    : QWidget(parent),
      appState_(appState),
      prefs_(prefs),
      clips_(clips),
      navigation_(navigation),
      router_(router),
      hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("settingsView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  shell_ = new plinth::SettingsShell(
      QStringLiteral("Ferrytide"), pages(hooks_.updater),
      [this](const plinth::SettingsPage& page) {
        return makePage(settingsSectionFromId(page.id).value_or(SettingsSection::devices));
      },
      QString::fromStdString(::plinth::ReportConfig::fromBuild().build),
      settingsSectionId(navigation_.section()), this);
  layout->addWidget(shell_);

  connect(shell_, &plinth::SettingsShell::selectionChanged, this, [this](const QString& id) {
    if (std::optional<SettingsSection> section = settingsSectionFromId(id)) {
      navigation_.setSection(*section);
    }
  });
  connect(&navigation_, &SettingsNavigation::sectionChanged, this,
          [this](SettingsSection section) { shell_->select(settingsSectionId(section)); });
}

void SettingsView::select(SettingsSection section) {
  navigation_.setSection(section);
  shell_->select(settingsSectionId(section));
}

QWidget* SettingsView::makePage(SettingsSection section) {
  QWidget* page = nullptr;
  switch (section) {
    case SettingsSection::devices:
      page = new SettingsDevicesPage(appState_, prefs_, router_, hooks_.dialogs);
      break;
    case SettingsSection::general:
      page = new SettingsGeneralPage(appState_, prefs_, clips_, hooks_.dialogs);
      break;
    case SettingsSection::shortcuts:
      page = new SettingsShortcutsPage(prefs_, hooks_);
      break;
    case SettingsSection::updates:
      page = new SettingsUpdatesPage(hooks_.updater);
      break;
    case SettingsSection::about:
      page = new SettingsAboutPage(router_);
      break;
  }
  page->setObjectName(settingsSectionId(section) + QStringLiteral("Page"));
  return scrollablePage(page);
}

}  // namespace ferrytide::menu
