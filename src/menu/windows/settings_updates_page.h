#pragma once

#include <QString>
#include <QWidget>

namespace ferrytide::menu {

// Where updates come from. Packages of the desktop's package manager bring new versions, so
// the page names the installed one and says so.
class SettingsUpdatesPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsUpdatesPage(QWidget* parent = nullptr);

  // The page's line under its title in the settings window.
  static QString subtitle();
};

}  // namespace ferrytide::menu
