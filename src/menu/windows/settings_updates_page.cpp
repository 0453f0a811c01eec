#include "menu/windows/settings_updates_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "menu/windows/settings_row.h"
#include "plinth_reports/report_config.h"

namespace ferrytide::menu {

SettingsUpdatesPage::SettingsUpdatesPage(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  auto* source = new SettingsRow(
      QStringLiteral("Ferrytide is updated by your package manager."),
      QStringLiteral("New versions arrive with your system's other updates."));
  source->titleLabel()->setObjectName(QStringLiteral("updateSourceLabel"));
  // The build's own version, which holds even before the application object names it.
  ::plinth::ReportConfig build = ::plinth::ReportConfig::fromBuild();
  auto* version = new SettingsRow(QStringLiteral("Installed"),
                                  QStringLiteral("Version ") + QString::fromStdString(build.version) +
                                      QStringLiteral(" (") + QString::fromStdString(build.build) +
                                      QStringLiteral(")"));
  version->subtitleLabel()->setObjectName(QStringLiteral("installedVersionLabel"));
  column->addWidget(settingsCard(this, {source, version}));
  column->addStretch(1);
}

QString SettingsUpdatesPage::subtitle() {
  return QStringLiteral("Ferrytide updates come with your system, quietly.");
}

}  // namespace ferrytide::menu
