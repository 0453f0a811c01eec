#pragma once

#include <QMenu>
#include <functional>

namespace ferrytide::menu {

struct StatusMenuActions {
  std::function<void()> settings;
  // Empty when this build has no updater: the item is left out.
  std::function<void()> checkForUpdates;
  std::function<void()> reportProblem;
  std::function<void()> quit;
};

// The tray icon's menu: "Settings…", "Check for Updates…" (with an updater), "Report a
// Problem…" and "Quit Ferrytide", with Ctrl+, and Ctrl+Q shown beside theirs.
class StatusMenu : public QMenu {
  Q_OBJECT

 public:
  explicit StatusMenu(StatusMenuActions actions, QWidget* parent = nullptr);
};

}  // namespace ferrytide::menu
