#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace ferrytide::menu {

// The questions the settings pages ask, replaceable so that tests can answer them.
struct SettingsDialogs {
  // A name, prefilled with `current`; nothing when cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& title,
                                       const QString& information, const QString& current)>
      askName;
  // Whether the user chose `confirmLabel` (the first button) rather than "Cancel".
  std::function<bool(QWidget* parent, const QString& title, const QString& information,
                     const QString& confirmLabel)>
      confirm;
  // A folder, starting at `current`; nothing when cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& current)> chooseFolder;

  // Modal dialogs of the desktop's style.
  static SettingsDialogs standard();
};

}  // namespace ferrytide::menu
