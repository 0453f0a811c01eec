#include "menu/tray/status_menu.h"

#include <QAction>
#include <QKeySequence>

namespace ferrytide::menu {
namespace {

void addItem(QMenu& menu, const QString& text, const char* objectName,
             const std::function<void()>& run, const QKeySequence& keys = {}) {
  QAction* action = menu.addAction(text);
  action->setObjectName(QString::fromLatin1(objectName));
  if (!keys.isEmpty()) action->setShortcut(keys);
  QObject::connect(action, &QAction::triggered, &menu, [run] {
    if (run) run();
  });
}

}  // namespace

StatusMenu::StatusMenu(StatusMenuActions actions, QWidget* parent) : QMenu(parent) {
  setObjectName(QStringLiteral("statusMenu"));
  setAccessibleName(QStringLiteral("Ferrytide"));
  addItem(*this, QStringLiteral("Settings…"), "settingsItem", actions.settings,
          QKeySequence(Qt::CTRL | Qt::Key_Comma));
  if (actions.checkForUpdates) {
    addItem(*this, QStringLiteral("Check for Updates…"), "checkForUpdatesItem",
            actions.checkForUpdates);
  }
  addItem(*this, QStringLiteral("Report a Problem…"), "reportProblemItem", actions.reportProblem);
  addSeparator();
  addItem(*this, QStringLiteral("Quit Ferrytide"), "quitItem", actions.quit,
          QKeySequence(Qt::CTRL | Qt::Key_Q));
}

}  // namespace ferrytide::menu
